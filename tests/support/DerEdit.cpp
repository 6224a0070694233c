#include "DerEdit.h"

namespace tvtest {

Tlv ReadTlv(const std::string& ber, size_t at) {
    Tlv tlv;
    tlv.start = at;
    tlv.header = 2;
    size_t length = static_cast<unsigned char>(ber.at(at + 1));
    if (length == 0x80) {
        tlv.indefinite = true;
        size_t next = at + 2;
        while (ber.at(next) != 0 || ber.at(next + 1) != 0) next = ReadTlv(ber, next).end();
        tlv.length = next - tlv.content();
        return tlv;
    }
    if (length & 0x80) {
        size_t count = length & 0x7F;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = (length << 8) | static_cast<unsigned char>(ber.at(at + 2 + i));
        tlv.header += count;
    }
    tlv.length = length;
    return tlv;
}

std::vector<Tlv> Children(const std::string& ber, const Tlv& parent) {
    std::vector<Tlv> children;
    for (size_t at = parent.content(); at < parent.content() + parent.length; at = children.back().end())
        children.push_back(ReadTlv(ber, at));
    return children;
}

Tlv At(const std::string& ber, const std::vector<size_t>& path) {
    Tlv tlv = ReadTlv(ber, 0);
    for (size_t index : path) tlv = Children(ber, tlv).at(index);
    return tlv;
}

std::string Bytes(const std::string& ber, const Tlv& tlv) { return ber.substr(tlv.start, tlv.end() - tlv.start); }

std::string Content(const std::string& ber, const Tlv& tlv) { return ber.substr(tlv.content(), tlv.length); }

std::string Definite(unsigned char tag, const std::string& content) {
    std::string length;
    for (size_t n = content.size(); n; n >>= 8) length.insert(length.begin(), static_cast<char>(n & 0xFF));
    std::string header(1, static_cast<char>(tag));
    if (content.size() < 0x80)
        header += static_cast<char>(content.size());
    else
        header += static_cast<char>(0x80 | length.size()) + length;
    return header + content;
}

std::string Indefinite(unsigned char tag, const std::string& content) {
    return std::string{static_cast<char>(tag), '\x80'} + content + std::string(2, '\0');
}

namespace {

std::string ReplaceIn(const std::string& der, const Tlv& element, const size_t* path, size_t depth,
                      const std::string& with) {
    if (depth == 0) return with;
    std::string content;
    std::vector<Tlv> children = Children(der, element);
    for (size_t i = 0; i < children.size(); ++i)
        content += i == *path ? ReplaceIn(der, children[i], path + 1, depth - 1, with) : Bytes(der, children[i]);
    return Definite(static_cast<unsigned char>(der[element.start]), content);
}

void Pieces(const std::string& ber, const Tlv& string, std::vector<size_t>& offsets) {
    if (!(ber[string.start] & 0x20)) {
        for (size_t i = 0; i < string.length; ++i) offsets.push_back(string.content() + i);
        return;
    }
    for (const Tlv& piece : Children(ber, string)) Pieces(ber, piece, offsets);
}

}  // namespace

std::string Replace(const std::string& der, const std::vector<size_t>& path, const std::string& with) {
    Tlv top = ReadTlv(der, 0);
    return ReplaceIn(der, top, path.data(), path.size(), with) + der.substr(top.end());
}

std::vector<size_t> StringBytes(const std::string& ber, const std::vector<size_t>& path) {
    std::vector<size_t> offsets;
    Pieces(ber, At(ber, path), offsets);
    return offsets;
}

}  // namespace tvtest
