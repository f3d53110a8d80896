// Pieces of the ASN.1 runtime shared between its sources; nothing here is exported.
#ifndef KV_ASN1RT_INTERNAL_H
#define KV_ASN1RT_INTERNAL_H

#include "asn1rt.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace asn1rt {

// Largest element the runtime encodes or decodes: lengths travel as int.
constexpr size_t kMaxLength = INT32_MAX;

// Nesting of constructed string segments the decoder follows before giving up.
constexpr ASN1UINT kMaxStringDepth = ASN_K_MAXDEPTH;

// Two's-complement octets without the leading octets DER leaves out: one goes when it is all
// sign bits and the next octet carries the same sign (X.690 8.3.2). At least one remains.
inline std::span<const ASN1OCTET> WithoutRedundantSignOctets(std::span<const ASN1OCTET> octets)
{
    while (octets.size() > 1 && ((octets[0] == 0x00 && !(octets[1] & 0x80)) ||
                                 (octets[0] == 0xFF && (octets[1] & 0x80))))
        octets = octets.subspan(1);
    return octets;
}

// X.660: at least two arcs, the first 0, 1 or 2, and under 0 and 1 the second below 40.
bool ValidLeadingArcs(const ASN1OBJID &oid);

// ---------------------------------------------------------------- per-thread spares

// One object per thread kept between calls: a released context parks its heap or encode
// buffer here and the thread's next context takes it back. The slot is a plain pointer in
// initial-exec TLS, so taking and parking are a load and a store, not calls into the TLS
// resolver; a guard armed the first time the thread parks something releases what is left
// when the thread ends, and nothing is parked after that.
template <typename T, void (*Release)(T *)> class ThreadSpare {
  public:
    static T *Take() { return std::exchange(slot_, nullptr); }

    // false when the slot is taken or the thread is ending: the caller releases `object`.
    static bool Park(T *object)
    {
        if (slot_ || state_ == kEnded) return false;
        if (state_ == kUnarmed) Arm();
        slot_ = object;
        return true;
    }

  private:
    enum State : unsigned char { kUnarmed, kArmed, kEnded };
    struct Guard {
        ~Guard()
        {
            state_ = kEnded;
            if (T *left = std::exchange(slot_, nullptr)) Release(left);
        }
    };
    static void Arm()
    {
        static thread_local Guard guard; // constructed here, destroyed with the thread
        state_ = kArmed;
    }

    [[gnu::tls_model("initial-exec")]] static constinit inline thread_local T *slot_ = nullptr;
    [[gnu::tls_model("initial-exec")]] static constinit inline thread_local State state_ = kUnarmed;
};

// ---------------------------------------------------------------- heap

void *NewHeap();
void DeleteHeap(void *heap);

// ---------------------------------------------------------------- encode buffer

// Puts `octets` in front of what was written so far. 0 or a status.
int PutOctets(Asn1Context *pctxt, std::span<const ASN1OCTET> octets);
int PutOctet(Asn1Context *pctxt, ASN1OCTET octet);
// Makes room for `count` octets in front and returns where they go, or null with *pstatus
// set; the caller fills all of them.
ASN1OCTET *ReserveFront(Asn1Context *pctxt, size_t count, int *pstatus);
// Octets written so far.
size_t EncodedLength(const Asn1Context *pctxt);

// Wraps `length` octets just written in a universal identifier when tagging is explicit.
int WrapUniversal(Asn1Context *pctxt, ASN1TAG tagNumber, int length, ASN1TagType tagging);

// ---------------------------------------------------------------- decode buffer

// Low five bits of an identifier's first octet when the tag number follows in more octets.
constexpr ASN1OCTET kHighTagNumber = 0x1F;

struct Header {
    ASN1TAG tag;          // 32-bit form: class, constructed bit, number
    ASN1OCTET firstOctet; // identifier's first octet as it was read
    bool constructed;
    int length;          // contents length, or ASN_K_INDEFLEN
    size_t headerLength; // identifier and length octets
};

// Parses the identifier and length at `pos` of data[0..size). A definite length must fit
// within `size`; the indefinite form needs the constructed bit. 0 or a status.
int ParseHeader(const ASN1OCTET *data, size_t size, size_t pos, Header *pheader);

// Parses the header at the decode position; consumes it when `consume` is set. Records the
// identifier position and form either way.
int ReadAnyHeader(Asn1Context *pctxt, Header *pheader, bool consume);

// The same, with nearly every header (a tag number below 31 other than 0 and a length below
// 128, in two octets) read in place.
inline int ReadHeader(Asn1Context *pctxt, Header *pheader, bool consume)
{
    Asn1DecodeBuffer *buffer = &pctxt->buffer;
    const size_t pos = buffer->byteIndex;
    if (pos <= buffer->size && buffer->size - pos >= 2) {
        const ASN1OCTET first = buffer->data[pos], length = buffer->data[pos + 1];
        if (first != 0x00 && (first & kHighTagNumber) != kHighTagNumber && length < 0x80 &&
            length <= buffer->size - pos - 2) {
            const bool constructed = (first & 0x20) != 0;
            *pheader = Header{(ASN1TAG{first} & 0xE0u) << 24 | (first & kHighTagNumber), first,
                              constructed, length, 2};
            buffer->lastIdIndex = pos;
            buffer->lastIdConstructed = constructed;
            if (consume) buffer->byteIndex = pos + 2;
            return ASN_OK;
        }
    }
    return ReadAnyHeader(pctxt, pheader, consume);
}

// Extent of the complete element at `pos` (header, contents and, for the indefinite form,
// everything up to and including the matching end-of-contents). 0 or a status.
int ElementExtent(const ASN1OCTET *data, size_t size, size_t pos, size_t *pextent);

// Takes the `length` contents octets at the decode position; they must lie inside the
// buffer (ASN_E_INVLEN for a negative length, ASN_E_BUFOVFLW past the end).
int TakeContents(Asn1Context *pctxt, int length, std::span<const ASN1OCTET> *pcontents);

// Contents of a primitive type: with explicit tagging reads the universal identifier
// `tagNumber` in primitive form (-3, nothing consumed, when another identifier follows);
// with implicit tagging takes `length` as the caller read it. Checks that the contents lie
// inside the buffer and consumes them.
int OpenPrimitive(Asn1Context *pctxt, ASN1TAG tagNumber, ASN1TagType tagging, int length,
                  std::span<const ASN1OCTET> *pcontents);

} // namespace asn1rt

#endif
