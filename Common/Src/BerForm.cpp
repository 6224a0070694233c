#include "BerForm.h"

#include <cstring>

namespace qx {

const BYTE kSignedDataOidEncoded[11] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                        0xF7, 0x0D, 0x01, 0x07, 0x02};
const BYTE kEnvelopedDataOidEncoded[11] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                           0xF7, 0x0D, 0x01, 0x07, 0x03};
const BYTE kRc4OidEncoded[10] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x04};

bool ReadBer(const BYTE* data, size_t at, size_t limit, int depth, Der& der)
{
    if (at + 2 > limit || (data[at] & 0x1F) == 0x1F)
        return false;
    size_t length = data[at + 1];
    size_t header = 2;
    if (length == 0x80) {
        // Constructed only; the content ends with two zero bytes.
        if (!(data[at] & 0x20) || depth <= 0)
            return false;
        size_t content = at + header;
        size_t next = content;
        for (;;) {
            if (next + 2 > limit)
                return false;
            if (data[next] == 0 && data[next + 1] == 0)
                break;
            Der inner;
            if (!ReadBer(data, next, limit, depth - 1, inner))
                return false;
            next = inner.end();
        }
        der.start = at;
        der.header = header;
        der.length = next - content;
        der.indefinite = true;
        return true;
    }
    if (length & 0x80) {
        size_t count = length & 0x7F;
        if (count == 0 || count > 4 || at + 2 + count > limit)
            return false;
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | data[at + 2 + i];
        header += count;
    }
    if (length > limit - at - header)
        return false;
    der.start = at;
    der.header = header;
    der.length = length;
    der.indefinite = false;
    return true;
}

bool ReadDer(const BYTE* data, size_t at, size_t limit, Der& der)
{
    return ReadBer(data, at, limit, 0, der);
}

bool ChildBer(const BYTE* data, const Der& parent, size_t index, int depth, Der& child)
{
    size_t at = parent.start + parent.header;
    for (size_t i = 0;; ++i) {
        if (!ReadBer(data, at, parent.contentEnd(), depth, child))
            return false;
        if (i == index)
            return true;
        at = child.end();
    }
}

bool ChildDer(const BYTE* data, const Der& parent, size_t index, Der& child)
{
    return ChildBer(data, parent, index, 0, child);
}

bool EncodingStartsWith(const BYTE* data, const Der& element, const BYTE* bytes, size_t size)
{
    return element.header + element.length >= size &&
           memcmp(data + element.start, bytes, size) == 0;
}

size_t HeaderSize(size_t length)
{
    size_t size = 2;
    if (length >= 0x80)
        for (size_t l = length; l; l >>= 8)
            ++size;
    return size;
}

size_t PutHeader(BYTE* at, BYTE tag, size_t length)
{
    at[0] = tag;
    if (length < 0x80) {
        at[1] = static_cast<BYTE>(length);
        return 2;
    }
    size_t count = HeaderSize(length) - 2;
    at[1] = static_cast<BYTE>(0x80 | count);
    for (size_t i = 0; i < count; ++i)
        at[2 + i] = static_cast<BYTE>(length >> (8 * (count - 1 - i)));
    return 2 + count;
}

namespace {

// Where an element stands, as far as the joining of pieces cares: the
// encrypted content of an enveloped message is an implicitly tagged string,
// which nothing but its place tells from an explicit tag.
enum class Place { Other, Message, EnvelopedWrapper, Enveloped, EncryptedInfo, EncryptedContent };

const size_t kVerbatim = static_cast<size_t>(-1);

// Two walks over the same elements: the first measures what each element
// becomes and notes, in the order met, the new content length of each
// constructed element (kVerbatim where it keeps its bytes); the second writes.
class DefiniteWriter {
public:
    DefiniteWriter(const BYTE* data, bool enveloped) : data_(data), enveloped_(enveloped) {}

    // The element's size in the new form; `changed` when it differs.
    bool Measure(const Der& element, int depth, Place place, size_t& size, bool& changed)
    {
        BYTE tag = data_[element.start];
        if (!(tag & 0x20)) {
            size = element.end() - element.start;
            changed = false;
            return FixedFormHolds(element);
        }
        if (tag == 0x21 || tag == 0x22 || tag == 0x25 || tag == 0x26)
            return false;  // BOOLEAN, INTEGER, NULL, OBJECT IDENTIFIER are never constructed
        if (Joins(tag, place)) {
            size_t joined = 0;
            if (!MeasurePieces(element, depth, joined))
                return false;
            size = HeaderSize(joined) + joined;
            changed = true;
            return true;
        }
        if (depth <= 0) {
            // Too deep to look into: a definite element keeps its bytes.
            if (element.indefinite)
                return false;
            size = element.end() - element.start;
            changed = false;
            return true;
        }
        size_t slot = lengths_.size();
        lengths_.push_back(kVerbatim);
        size_t content = 0;
        bool inner = false;
        size_t index = 0;
        for (size_t at = element.start + element.header; at < element.contentEnd(); ++index) {
            Der child;
            size_t childSize = 0;
            bool childChanged = false;
            if (!ReadBer(data_, at, element.contentEnd(), depth - 1, child) ||
                !Measure(child, depth - 1, PlaceOf(place, index, data_[child.start]), childSize,
                         childChanged))
                return false;
            content += childSize;
            inner = inner || childChanged;
            at = child.end();
        }
        changed = inner || element.indefinite;
        if (changed) {
            lengths_[slot] = content;
            size = HeaderSize(content) + content;
        } else {
            lengths_.resize(slot + 1);  // its children are copied with it
            size = element.end() - element.start;
        }
        return true;
    }

    void Write(const Der& element, int depth, Place place, BYTE*& out)
    {
        BYTE tag = data_[element.start];
        if (!(tag & 0x20) || (!Joins(tag, place) && depth <= 0)) {
            Copy(element.start, element.end() - element.start, out);
            return;
        }
        if (Joins(tag, place)) {
            size_t joined = 0;
            MeasurePieces(element, depth, joined);
            out += PutHeader(out, static_cast<BYTE>(tag & ~0x20), joined);
            WritePieces(element, depth, out);
            return;
        }
        size_t content = lengths_[next_++];
        if (content == kVerbatim) {
            Copy(element.start, element.end() - element.start, out);
            return;
        }
        out += PutHeader(out, tag, content);
        size_t index = 0;
        for (size_t at = element.start + element.header; at < element.contentEnd(); ++index) {
            Der child;
            ReadBer(data_, at, element.contentEnd(), depth - 1, child);
            Write(child, depth - 1, PlaceOf(place, index, data_[child.start]), out);
            at = child.end();
        }
    }

private:
    const BYTE* data_;
    bool enveloped_;
    std::vector<size_t> lengths_;
    size_t next_ = 0;

    // Whether a primitive element of a universal type whose content has a
    // fixed form keeps it.
    bool FixedFormHolds(const Der& element) const
    {
        const BYTE* content = data_ + element.start + element.header;
        switch (data_[element.start]) {
        case 0x01:  // BOOLEAN
            return element.length == 1;
        case 0x02:  // INTEGER
            return element.length > 0;
        case 0x03:  // BIT STRING: the count of unused bits, then the bits
            return element.length > 0 && content[0] < 8 && (element.length > 1 || content[0] == 0);
        case 0x05:  // NULL
            return element.length == 0;
        case 0x06:  // OBJECT IDENTIFIER: its last byte ends an arc
            return element.length > 0 && !(content[element.length - 1] & 0x80);
        default:
            return true;
        }
    }

    // A string in pieces: an OCTET STRING anywhere, the encrypted content
    // where it stands.
    static bool Joins(BYTE tag, Place place)
    {
        return tag == 0x24 || (place == Place::EncryptedContent && tag == 0xA0);
    }

    // ContentInfo / [0] / EnvelopedData: version, originator information
    // (optional, [0]), recipients (SET), EncryptedContentInfo (the SEQUENCE):
    // content type, algorithm, [0] encrypted content.
    Place PlaceOf(Place parent, size_t index, BYTE tag) const
    {
        switch (parent) {
        case Place::Message:
            return enveloped_ && index == 1 && tag == 0xA0 ? Place::EnvelopedWrapper : Place::Other;
        case Place::EnvelopedWrapper:
            return index == 0 && tag == 0x30 ? Place::Enveloped : Place::Other;
        case Place::Enveloped:
            return tag == 0x30 ? Place::EncryptedInfo : Place::Other;
        case Place::EncryptedInfo:
            return index == 2 && (tag == 0xA0 || tag == 0x80) ? Place::EncryptedContent
                                                             : Place::Other;
        default:
            return Place::Other;
        }
    }

    // The bytes of the pieces of a string, pieces nested within `depth` levels.
    bool MeasurePieces(const Der& string, int depth, size_t& joined)
    {
        for (size_t at = string.start + string.header; at < string.contentEnd();) {
            Der piece;
            if (depth <= 0 || !ReadBer(data_, at, string.contentEnd(), depth - 1, piece))
                return false;
            BYTE tag = data_[piece.start];
            if (tag == 0x04)
                joined += piece.length;
            else if (tag != 0x24 || !MeasurePieces(piece, depth - 1, joined))
                return false;
            at = piece.end();
        }
        return true;
    }

    void WritePieces(const Der& string, int depth, BYTE*& out)
    {
        for (size_t at = string.start + string.header; at < string.contentEnd();) {
            Der piece;
            ReadBer(data_, at, string.contentEnd(), depth - 1, piece);
            if (data_[piece.start] == 0x04)
                Copy(piece.start + piece.header, piece.length, out);
            else
                WritePieces(piece, depth - 1, out);
            at = piece.end();
        }
    }

    void Copy(size_t from, size_t count, BYTE*& out)
    {
        memcpy(out, data_ + from, count);
        out += count;
    }
};

}  // namespace

bool DefiniteForm(const BYTE* data, size_t length, std::vector<BYTE>& out)
{
    out.clear();
    Der top;
    if (!data || !ReadBer(data, 0, length, kBerDepth, top))
        return false;
    Der type;
    bool enveloped = data[top.start] == 0x30 && ChildBer(data, top, 0, kBerDepth, type) &&
                     IsEncodedOid(data, type, kEnvelopedDataOidEncoded);
    DefiniteWriter writer(data, enveloped);
    size_t size = 0;
    bool changed = false;
    if (!writer.Measure(top, kBerDepth, Place::Message, size, changed))
        return false;
    if (!changed)
        return true;
    // What follows the message is not the message's; it keeps its bytes.
    size_t rest = length - top.end();
    out.resize(size + rest);
    BYTE* at = out.data();
    writer.Write(top, kBerDepth, Place::Message, at);
    memcpy(at, data + top.end(), rest);
    return true;
}

}  // namespace qx
