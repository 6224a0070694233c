// The elements of an encoded message, for tests that alter a message or
// build one by hand: reading (definite and indefinite lengths), writing, and
// replacing one element with the lengths around it encoded anew.
#pragma once

#include <string>
#include <vector>

namespace tvtest {

// One element of an encoding.
struct Tlv {
    size_t start = 0;
    size_t header = 0;
    size_t length = 0;  // of the content, without the end mark of an indefinite length
    bool indefinite = false;
    size_t content() const { return start + header; }
    size_t end() const { return start + header + length + (indefinite ? 2 : 0); }
};

Tlv ReadTlv(const std::string& ber, size_t at);
std::vector<Tlv> Children(const std::string& ber, const Tlv& parent);
// The element at the path of child indexes from the top element.
Tlv At(const std::string& ber, const std::vector<size_t>& path);
std::string Bytes(const std::string& ber, const Tlv& tlv);    // tag, length and content
std::string Content(const std::string& ber, const Tlv& tlv);  // the content alone

std::string Definite(unsigned char tag, const std::string& content);
std::string Indefinite(unsigned char tag, const std::string& content);

// The message with the element at the path replaced by `with` (nothing: the
// element is left out); the elements around it are written with definite
// lengths anew.
std::string Replace(const std::string& der, const std::vector<size_t>& path,
                    const std::string& with);

// The offsets of the bytes of the string at the path, in order, however it
// was written: one piece, or pieces nested in constructed strings.
std::vector<size_t> StringBytes(const std::string& ber, const std::vector<size_t>& path);

}  // namespace tvtest
