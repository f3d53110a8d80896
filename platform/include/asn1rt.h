/*
 * The ASN.1 runtime: per-call context with its arena heap and error record, linked lists,
 * the backwards-growing DER encode buffer and the BER/DER decode buffer, one encoder and
 * decoder per primitive type, OID and GeneralizedTime text.
 *
 * Statuses: 0 is success and every failure is negative (ASN_E_...). Encoders return the
 * number of octets they wrote, or a status. No input, however malformed, makes the runtime
 * read or write outside its buffers.
 */
#ifndef KV_ASN1RT_H
#define KV_ASN1RT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t ASN1OCTET;
typedef uint8_t ASN1BOOL;
typedef int32_t ASN1INT;
typedef uint32_t ASN1UINT;
typedef uint16_t ASN1USINT;
typedef uint32_t ASN1TAG;
typedef const char *ASN1ConstCharPtr;

/* tagging argument of encoders and decoders */
typedef enum { ASN1IMPL = 0, ASN1EXPL = 1 } ASN1TagType;

/* ------------------------------------------------------------------ statuses */

#define ASN_OK 0
#define ASN_E_BUFOVFLW (-1)  /* encode buffer full, or an element runs past the input */
#define ASN_E_ENDOFBUF (-2)  /* input ended where an element was expected */
#define ASN_E_IDNOTFOU (-3)  /* expected identifier not found; nothing consumed */
#define ASN_E_INVOBJID (-4)  /* malformed object identifier, or more than 128 arcs */
#define ASN_E_INVLEN (-5)    /* malformed or inconsistent length */
#define ASN_E_INVENUM (-6)   /* value not allowed */
#define ASN_E_SETDUPL (-7)   /* SET component repeated */
#define ASN_E_SETMISRQ (-8)  /* mandatory component missing */
#define ASN_E_NOTINSET (-9)  /* tag names no component of the SET */
#define ASN_E_SEQOVFLW (-10) /* one element too many */
#define ASN_E_INVOPT (-11)   /* bad CHOICE alternative */
#define ASN_E_NOMEM (-12)    /* heap exhausted */
#define ASN_E_INVHEXS (-13)  /* malformed big-integer text */
#define ASN_E_STROVFLW (-16) /* value does not fit its fixed-size field */
#define ASN_E_BADVALUE (-17) /* malformed contents (bad time text, invalid UTF-8, ...) */
#define ASN_E_INTOVFLW (-18) /* integer value does not fit its field */
#define ASN_E_BADTAG (-20)   /* malformed identifier octets */
#define ASN_E_TOODEEP (-21)  /* nesting deeper than the runtime follows */
#define ASN_E_INVPARAM (-22) /* bad argument */
#define ASN_E_CONSVIO (-23)  /* constraint violated */

/* ------------------------------------------------------------------ tags */

#define TM_UNIV 0x00000000u
#define TM_APPL 0x40000000u
#define TM_CTXT 0x80000000u
#define TM_PRIV 0xC0000000u
#define TM_CONS 0x20000000u
#define TM_CLASS 0xC0000000u
#define TM_IDCODE 0x1FFFFFFFu

#define ASN_ID_BOOL 1
#define ASN_ID_INT 2
#define ASN_ID_BITSTR 3
#define ASN_ID_OCTSTR 4
#define ASN_ID_NULL 5
#define ASN_ID_OBJID 6
#define ASN_ID_ENUM 10
#define ASN_ID_UTF8String 12
#define ASN_ID_SEQ 16
#define ASN_ID_SET 17
#define ASN_ID_NumericString 18
#define ASN_ID_PrintableString 19
#define ASN_ID_TeletexString 20
#define ASN_ID_IA5String 22
#define ASN_ID_UTCTime 23
#define ASN_ID_GeneralTime 24
#define ASN_ID_VisibleString 26
#define ASN_ID_UniversalString 28
#define ASN_ID_BMPString 30

/* Nesting of constructed string segments a decoder follows (ASN_E_TOODEEP beyond). */
#define ASN_K_MAXDEPTH 16

/* Length value of the indefinite form, as decoders pass it on. */
#define ASN_K_INDEFLEN (-9999)

/* xd_tag_len mode: 2 consumes the identifier and length, 1 only looks at them. */
#define XM_SEEK 0x01
#define XM_ADVANCE 0x02

/* ------------------------------------------------------------------ values */

#define ASN_K_MAXSUBIDS 128 /* arcs an OID may have */

typedef struct ASN1OBJID {
    ASN1UINT numids;
    ASN1UINT subid[ASN_K_MAXSUBIDS];
} ASN1OBJID;

typedef struct ASN1DynOctStr {
    ASN1UINT numocts;
    const ASN1OCTET *data;
} ASN1DynOctStr;

typedef struct ASN1DynBitStr {
    ASN1UINT numbits;
    const ASN1OCTET *data; /* bit 0 is the leading bit of data[0] */
} ASN1DynBitStr;

/* The complete encoding (identifier, length, contents) of one value. */
typedef struct ASN1OpenType {
    ASN1UINT numocts;
    const ASN1OCTET *data;
} ASN1OpenType;

typedef struct Asn116BitCharString { /* BMPString */
    ASN1UINT nchars;
    const ASN1USINT *data;
} Asn116BitCharString;

typedef struct Asn132BitCharString { /* UniversalString */
    ASN1UINT nchars;
    const ASN1UINT *data;
} Asn132BitCharString;

typedef struct DListNode {
    void *data;
    struct DListNode *next;
    struct DListNode *prev;
} DListNode;

typedef struct DList {
    ASN1UINT count;
    DListNode *head;
    DListNode *tail;
} DList;

typedef struct SListNode {
    void *data;
    struct SListNode *next;
} SListNode;

struct Asn1Context;
typedef struct SList {
    ASN1UINT count;
    SListNode *head;
    SListNode *tail;
    struct Asn1Context *pctxt; /* heap the nodes come from */
} SList;

/* Where one element encoding lies in the encode buffer, counted from the buffer's end so
 * that it stays true while the buffer grows. */
typedef struct Asn1BufLocDescr {
    ASN1UINT numocts;
    size_t offset;
} Asn1BufLocDescr;

/* GeneralizedTime fields; `utc` is 1 for a time in UTC ("Z"). */
typedef struct Asn1DateTime {
    ASN1USINT year;
    ASN1USINT month;
    ASN1USINT day;
    ASN1USINT hour;
    ASN1USINT minute;
    ASN1USINT second;
    ASN1UINT fraction;       /* digits after the decimal point, as a number */
    ASN1USINT fractionDigits; /* how many digits there were (0: no fraction) */
    int16_t diffMinutes;     /* local time minus UTC, when an offset was given */
    ASN1OCTET utc;
} Asn1DateTime;

/* ------------------------------------------------------------------ context */

#define ASN_K_MAXERRP 5
#define ASN_K_ERRPARMLEN 64

typedef struct Asn1ErrInfo {
    int status;
    const char *module;
    int lineno;
    ASN1UINT parmcount;
    char parms[ASN_K_MAXERRP][ASN_K_ERRPARMLEN];
} Asn1ErrInfo;

typedef struct Asn1DecodeBuffer {
    const ASN1OCTET *data;
    size_t byteIndex;   /* next octet to read */
    size_t size;        /* octets available from data */
    size_t lastIdIndex; /* where the identifier read last began */
    ASN1OCTET lastIdConstructed; /* 1 when that identifier had the constructed bit */
} Asn1DecodeBuffer;

typedef struct Asn1EncodeBuffer {
    ASN1OCTET *data;
    size_t size;      /* capacity */
    size_t byteIndex; /* first octet written; the encoding is data[byteIndex..size) */
    int dynamic;      /* the runtime owns data and grows it */
} Asn1EncodeBuffer;

/* The caller owns the record (usually on its stack), zero-fills it and calls rtInitContext;
 * rtFreeContext releases the heap, every value decoded into it and the encode buffer. */
typedef struct Asn1Context {
    void *pMemHeap;
    Asn1DecodeBuffer buffer;
    Asn1EncodeBuffer ebuf;
    Asn1ErrInfo errInfo;
    ASN1UINT depth; /* constructed-string and open-type nesting guard */
} Asn1Context;

/* pMemHeap must be null: the context makes its own heap. 0 on success. */
int rtInitContext(Asn1Context *pctxt, void *pMemHeap);
void rtFreeContext(Asn1Context *pctxt);

/* Heap: an arena. Blocks are 16-byte aligned and live until rtFreeContext; a request for
 * zero octets gives a valid unique block. Null when memory runs out. */
void *rtMemHeapAlloc(void **ppvMemHeap, size_t nbytes);
void *rtMemHeapAllocZ(void **ppvMemHeap, size_t nbytes);
#define ASN1MALLOC(pctxt, nbytes) rtMemHeapAlloc(&(pctxt)->pMemHeap, nbytes)
#define ASN1MALLOCZ(pctxt, nbytes) rtMemHeapAllocZ(&(pctxt)->pMemHeap, nbytes)

/* Error record. rtErrSetData records `status` (keeping parameters attached so far) and
 * returns it; rtErrReset clears the record and returns 0. Parameters are kept as text, cut
 * to ASN_K_ERRPARMLEN - 1 characters; adding one returns 0, or ASN_E_STROVFLW when all
 * ASN_K_MAXERRP slots are taken. */
int rtErrSetData(Asn1ErrInfo *pErrInfo, int status, const char *module, int lineno);
int rtErrReset(Asn1ErrInfo *pErrInfo);
int rtErrAddStrParm(Asn1ErrInfo *pErrInfo, const char *text);
int rtErrAddIntParm(Asn1ErrInfo *pErrInfo, int value);
int xu_addTagErrParm(Asn1ErrInfo *pErrInfo, ASN1TAG tag); /* as "[CONTEXT 9]" etc. */
#define LOG_ASN1ERR(pctxt, stat) rtErrSetData(&(pctxt)->errInfo, stat, 0, 0)

/* ------------------------------------------------------------------ lists */

void rtDListInit(DList *pList);
/* Allocates a node on the heap; null when out of memory. */
DListNode *rtDListAppend(Asn1Context *pctxt, DList *pList, void *pData);
/* `pData` is the element of a block whose DListNode header lies just before it
 * (see rtDListNewNodeAndData); nothing is allocated. */
DListNode *rtDListAppendNode(Asn1Context *pctxt, DList *pList, void *pData);
/* One zeroed block holding a node header followed by an element of `elemSize` octets;
 * returns the element address, or null. */
void *rtDListNewNodeAndData(Asn1Context *pctxt, size_t elemSize);
DListNode *rtDListFindByIndex(const DList *pList, ASN1UINT index);

void rtSListInitEx(Asn1Context *pctxt, SList *pList);
SListNode *rtSListAppend(SList *pList, void *pData);

/* ------------------------------------------------------------------ encoding */

/* buf null and size 0: a runtime-owned buffer that grows as needed. Otherwise encode into
 * the caller's buf of `size` octets (ASN_E_BUFOVFLW when it is full). 0 on success. */
int xe_setp(Asn1Context *pctxt, ASN1OCTET *buf, int size);
/* First octet of the encoding written so far. */
ASN1OCTET *xe_getp(Asn1Context *pctxt);
/* Drops the runtime-owned buffer. */
void xe_free(Asn1Context *pctxt);

/* Puts identifier and length octets in front of the `length` octets just written;
 * returns length plus the header size, or a status. */
int xe_tag_len(Asn1Context *pctxt, ASN1TAG tag, int length);

int xe_boolean(Asn1Context *pctxt, const ASN1BOOL *pvalue, ASN1TagType tagging);
int xe_integer(Asn1Context *pctxt, const ASN1INT *pvalue, ASN1TagType tagging);
int xe_unsigned(Asn1Context *pctxt, const ASN1UINT *pvalue, ASN1TagType tagging);
int xe_uint16(Asn1Context *pctxt, const ASN1USINT *pvalue, ASN1TagType tagging);
int xe_enum(Asn1Context *pctxt, const ASN1INT *pvalue, ASN1TagType tagging);
/* Big-integer text: "0x" followed by the hexadecimal digits of the two's-complement content
 * octets, most significant first (what xd_bigint produces, in lower case; either case is
 * taken). Redundant leading sign octets are dropped, as DER wants; ASN_E_INVHEXS for text
 * of another form. */
int xe_bigint(Asn1Context *pctxt, const char *pvalue, ASN1TagType tagging);
int xe_null(Asn1Context *pctxt, ASN1TagType tagging);
int xe_objid(Asn1Context *pctxt, const ASN1OBJID *pvalue, ASN1TagType tagging);
int xe_octstr(Asn1Context *pctxt, const ASN1OCTET *data, ASN1UINT numocts, ASN1TagType tagging);
/* Unused bits of the last octet are written as zero. */
int xe_bitstr(Asn1Context *pctxt, const ASN1OCTET *data, ASN1UINT numbits, ASN1TagType tagging);
/* `tag` is the universal tag number of the string type (12, 18, 19, 20, 22, 23, 24, 26). */
int xe_charstr(Asn1Context *pctxt, const char *pvalue, ASN1TagType tagging, ASN1TAG tag);
int xe_16BitCharStr(Asn1Context *pctxt, const Asn116BitCharString *pvalue, ASN1TagType tagging,
                    ASN1TAG tag);
int xe_32BitCharStr(Asn1Context *pctxt, const Asn132BitCharString *pvalue, ASN1TagType tagging,
                    ASN1TAG tag);
/* Writes a stored encoding unchanged. */
int xe_OpenType(Asn1Context *pctxt, const ASN1OCTET *data, ASN1UINT numocts);
/* Writes every ASN1OpenType of the list unchanged, in list order. */
int xe_OpenTypeExt(Asn1Context *pctxt, const DList *pElemList);

/* SET OF in DER order: record each element right after encoding it, then sort. */
int xe_getBufLocDescr(Asn1Context *pctxt, ASN1UINT length, Asn1BufLocDescr *pDescr);
/* Rearranges the described element encodings (which lie together at the front of the
 * buffer) into X.690 SET OF order, in place; returns their total length or a status
 * (ASN_E_INVPARAM when the descriptors do not cover the front of the buffer exactly).
 * Equal encodings keep their order; the descriptors are updated to the new places. */
int xe_derCanonicalSort(Asn1Context *pctxt, SList *pList);

/* ------------------------------------------------------------------ decoding */

/* Starts decoding `size` octets at `data`. size 0 takes the extent from the outermost
 * element's header (definite or indefinite); the element must then be complete, as its
 * octets are read up to where it says it ends. A non-null tag_p / len_p receives the outer
 * identifier and its length (ASN_K_INDEFLEN for the indefinite form; buffer.size holds the
 * extent) without consuming them. 0 on success. */
int xd_setp(Asn1Context *pctxt, const ASN1OCTET *data, int size, ASN1TAG *tag_p, int *len_p);

/* Matches the next identifier against `tagbyte` (its first octet with the constructed bit
 * cleared); either form matches. Consumes identifier and length on a match; otherwise
 * returns ASN_E_IDNOTFOU and consumes nothing. *len_p gets the length or ASN_K_INDEFLEN. */
int xd_match1(Asn1Context *pctxt, ASN1OCTET tagbyte, int *len_p);
/* Consumes a one-octet identifier and its length. */
int xd_Tag1AndLen(Asn1Context *pctxt, int *len_p);
/* Reads identifier and length; `mode` XM_ADVANCE consumes them, XM_SEEK only looks. The tag
 * comes back in the 32-bit form (class, constructed bit, number).
 *
 * Every function that reads an identifier records where it began (buffer.lastIdIndex) and
 * whether it was constructed (buffer.lastIdConstructed). Header faults: ASN_E_ENDOFBUF for
 * a truncated header, ASN_E_BUFOVFLW for a length past the input, ASN_E_INVLEN for more
 * than 4 length octets, a length above INT32_MAX or the indefinite form on a primitive,
 * ASN_E_BADTAG for a malformed tag number (tag numbers have at most 29 bits). */
int xd_tag_len(Asn1Context *pctxt, ASN1TAG *tag_p, int *len_p, ASN1OCTET mode);

/* Contents of a constructed value: remember its start and length right after the header,
 * loop while xd_chkend() says contents remain, then xd_endcons() checks that the contents
 * ended exactly at the length (definite) or consumes the end-of-contents octets
 * (indefinite). */
typedef struct Asn1Ccb {
    size_t start;
    int len;
} Asn1Ccb;
void xd_ccbInit(Asn1Context *pctxt, Asn1Ccb *pccb, int len);
int xd_chkend(Asn1Context *pctxt, const Asn1Ccb *pccb); /* 1: contents remain, 0: at end */
int xd_endcons(Asn1Context *pctxt, const Asn1Ccb *pccb);
/* Peeks at the next identifier octet; ASN_E_ENDOFBUF when the input is used up. */
int xd_peekTagByte(Asn1Context *pctxt, ASN1OCTET *pbyte);
/* Puts the position back to where the identifier read last began. */
void xd_resetToLastId(Asn1Context *pctxt);

/* With tagging ASN1EXPL these read their own universal identifier and ignore `length`;
 * with ASN1IMPL the caller consumed an implicit tag and passes its contents length, and the
 * form comes from that tag (buffer.lastIdConstructed): non-string types then refuse the
 * constructed form with ASN_E_BADTAG. String decoders also take the constructed (BER) form,
 * definite or indefinite, nested at most ASN_K_MAXDEPTH deep (ASN_E_TOODEEP); its segments
 * are OCTET STRINGs (BIT STRINGs for bit strings), character strings also take segments of
 * their own tag. Integer decoders return ASN_E_INTOVFLW when the value does not fit. */
int xd_boolean(Asn1Context *pctxt, ASN1BOOL *pvalue, ASN1TagType tagging, int length);
int xd_integer(Asn1Context *pctxt, ASN1INT *pvalue, ASN1TagType tagging, int length);
int xd_unsigned(Asn1Context *pctxt, ASN1UINT *pvalue, ASN1TagType tagging, int length);
int xd_uint16(Asn1Context *pctxt, ASN1USINT *pvalue, ASN1TagType tagging, int length);
int xd_enum(Asn1Context *pctxt, ASN1INT *pvalue, ASN1TagType tagging, int length);
/* The text is allocated on the heap, in the form xe_bigint takes. */
int xd_bigint(Asn1Context *pctxt, const char **ppvalue, ASN1TagType tagging, int length);
int xd_null(Asn1Context *pctxt, ASN1TagType tagging);
int xd_objid(Asn1Context *pctxt, ASN1OBJID *pvalue, ASN1TagType tagging, int length);
/* Contents go to a new heap block. */
int xd_octstr(Asn1Context *pctxt, const ASN1OCTET **ppdata, ASN1UINT *pnumocts,
              ASN1TagType tagging, int length);
int xd_bitstr(Asn1Context *pctxt, const ASN1OCTET **ppdata, ASN1UINT *pnumbits,
              ASN1TagType tagging, int length);
/* Into an inline array: *pnumocts / *pnumbits hold its capacity on entry and the length read
 * on return; ASN_E_STROVFLW when the value does not fit. */
int xd_octstr_s(Asn1Context *pctxt, ASN1OCTET *pdata, ASN1UINT *pnumocts, ASN1TagType tagging,
                int length);
int xd_bitstr_s(Asn1Context *pctxt, ASN1OCTET *pdata, ASN1UINT *pnumbits, ASN1TagType tagging,
                int length);
/* A new zero-terminated heap text; `tag` is the universal tag number. ASN_E_BADVALUE when
 * the contents hold a zero octet, or are not UTF-8 for a UTF8String. */
int xd_charstr(Asn1Context *pctxt, const char **ppvalue, ASN1TagType tagging, ASN1TAG tag,
               int length);
int xd_16BitCharStr(Asn1Context *pctxt, Asn116BitCharString *pvalue, ASN1TagType tagging,
                    ASN1TAG tag, int length);
int xd_32BitCharStr(Asn1Context *pctxt, Asn132BitCharString *pvalue, ASN1TagType tagging,
                    ASN1TAG tag, int length);
/* Takes the next complete element (identifier, length, contents) as raw octets; the data
 * points into the decode buffer. ASN_E_BADTAG at an end-of-contents. */
int xd_OpenType(Asn1Context *pctxt, const ASN1OCTET **ppdata, ASN1UINT *pnumocts);

/* ------------------------------------------------------------------ text */

/* Dotted-decimal text into buf of bufsize octets (the size counts the zero); non-zero on
 * success, 0 when the OID is empty or the text does not fit. */
int rtOidToStr(const ASN1OBJID *pOID, char *buf, size_t bufsize);
/* Length of the dotted-decimal text, without the zero. */
size_t rtOidToStrLen(const ASN1OBJID *pOID);
/* Non-zero on success: at least two arcs, first 0..2, second below 40 under 0 and 1, each arc
 * a decimal number below 2^32, at most 128 arcs. */
int rtStrToOid(const char *text, ASN1OBJID *pOID);

/* Strict GeneralizedTime parser: YYYYMMDDHHMM[SS[.f+]][Z|+hhmm|-hhmm], every field in range
 * (a day past the end of its month is rejected), at most 9 fraction digits after "." or ",".
 * "Z" sets utc; an offset goes to diffMinutes. 0, ASN_E_BADVALUE, or ASN_E_INVPARAM for a
 * null argument; a failure leaves the record alone. pctxt may be null. */
int rtParseGeneralizedTime(Asn1Context *pctxt, const char *text, Asn1DateTime *pDateTime);
/* Makes the DER text YYYYMMDDHHMMSS[.f]Z (the fraction without trailing zeros). A record
 * with utc 0 is local time and is moved to UTC by diffMinutes. With bufsize 0 the text is
 * allocated on the heap and *ppText set to it; otherwise *ppText is a caller buffer of
 * bufsize octets (ASN_E_STROVFLW when the text and its zero do not fit). 0 or a status
 * (ASN_E_BADVALUE for a field out of range). */
int rtMakeGeneralizedTime(Asn1Context *pctxt, const Asn1DateTime *pDateTime, char **ppText,
                          size_t bufsize);

/* Characters in zero-terminated UTF-8, or -1 when it is not valid UTF-8. */
long rtUTF8Len(const char *text);

#ifdef __cplusplus
}
#endif

#endif
