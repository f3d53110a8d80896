// GeneralizedTime text (X.680 46, DER form X.690 11.7).
#include "Internal.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr unsigned kMaxFractionDigits = 9; // fits ASN1UINT

bool IsLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month)
{
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool ValidFields(const Asn1DateTime &dt)
{
    return dt.year <= 9999 && dt.month >= 1 && dt.month <= 12 && dt.day >= 1 &&
           dt.day <= DaysInMonth(dt.year, dt.month) && dt.hour <= 23 && dt.minute <= 59 &&
           dt.second <= 59;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Exactly `count` decimal digits.
bool ReadNumber(const char **ptext, unsigned count, unsigned *pvalue)
{
    unsigned value = 0;
    for (unsigned i = 0; i < count; i++) {
        const char c = (*ptext)[i]; // a terminator stops the loop before the end
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    *ptext += count;
    *pvalue = value;
    return true;
}

bool ReadField(const char **ptext, unsigned count, ASN1USINT *pfield)
{
    unsigned value = 0;
    if (!ReadNumber(ptext, count, &value)) return false;
    *pfield = static_cast<ASN1USINT>(value);
    return true;
}

bool ReadFraction(const char **ptext, Asn1DateTime *pdt)
{
    const char *text = *ptext;
    unsigned digits = 0;
    ASN1UINT fraction = 0;
    for (; IsDigit(*text); text++) {
        if (++digits > kMaxFractionDigits) return false;
        fraction = fraction * 10 + static_cast<ASN1UINT>(*text - '0');
    }
    if (digits == 0) return false;
    pdt->fraction = fraction;
    pdt->fractionDigits = static_cast<ASN1USINT>(digits);
    *ptext = text;
    return true;
}

// "Z", or a difference from UTC as +hhmm / -hhmm, or nothing (local time).
bool ReadZone(const char *text, Asn1DateTime *pdt)
{
    if (*text == '\0') return true;
    if (text[0] == 'Z') {
        pdt->utc = 1;
        return text[1] == '\0';
    }
    if (*text != '+' && *text != '-') return false;
    const int sign = *text++ == '-' ? -1 : 1;
    unsigned hours = 0, minutes = 0;
    if (!ReadNumber(&text, 2, &hours) || !ReadNumber(&text, 2, &minutes) || *text != '\0' ||
        hours > 23 || minutes > 59)
        return false;
    pdt->diffMinutes = static_cast<int16_t>(sign * static_cast<int>(hours * 60 + minutes));
    return true;
}

bool ParseText(const char *text, Asn1DateTime *pdt)
{
    if (!ReadField(&text, 4, &pdt->year) || !ReadField(&text, 2, &pdt->month) ||
        !ReadField(&text, 2, &pdt->day) || !ReadField(&text, 2, &pdt->hour) ||
        !ReadField(&text, 2, &pdt->minute))
        return false;
    if (IsDigit(*text)) {
        if (!ReadField(&text, 2, &pdt->second)) return false;
        if (*text == '.' || *text == ',') {
            text++;
            if (!ReadFraction(&text, pdt)) return false;
        }
    }
    return ReadZone(text, pdt) && ValidFields(*pdt);
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the era-based civil
// calendar conversion).
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int64_t *pyear, unsigned *pmonth, unsigned *pday)
{
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    *pday = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    *pmonth = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    *pyear = static_cast<int64_t>(yearOfEra) + era * 400 + (*pmonth <= 2);
}

// A local time with its difference from UTC, moved to UTC.
bool ToUtc(Asn1DateTime *pdt)
{
    const int64_t minutes = (DaysFromCivil(pdt->year, pdt->month, pdt->day) * 24 + pdt->hour) * 60 +
                            pdt->minute - pdt->diffMinutes;
    const int64_t days = (minutes >= 0 ? minutes : minutes - 1439) / 1440;
    const int64_t minuteOfDay = minutes - days * 1440;
    int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    if (year < 0 || year > 9999) return false;
    *pdt = Asn1DateTime{static_cast<ASN1USINT>(year),
                        static_cast<ASN1USINT>(month),
                        static_cast<ASN1USINT>(day),
                        static_cast<ASN1USINT>(minuteOfDay / 60),
                        static_cast<ASN1USINT>(minuteOfDay % 60),
                        pdt->second,
                        pdt->fraction,
                        pdt->fractionDigits,
                        0,
                        1};
    return true;
}

bool ValidFraction(const Asn1DateTime &dt)
{
    if (dt.fractionDigits > kMaxFractionDigits) return false;
    uint64_t limit = 1;
    for (unsigned i = 0; i < dt.fractionDigits; i++)
        limit *= 10;
    return dt.fraction < limit;
}

// `count` decimal digits of `value`, leading zeros included; returns the end.
char *PutDigits(char *out, unsigned value, unsigned count)
{
    for (unsigned i = count; i > 0; i--, value /= 10)
        out[i - 1] = static_cast<char>('0' + value % 10);
    return out + count;
}

// Two decimal digits of a value below 100, from a table of all of them.
char *PutTwoDigits(char *out, unsigned value)
{
    static constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324"
                                     "25262728293031323334353637383940414243444546474849"
                                     "50515253545556575859606162636465666768697071727374"
                                     "75767778798081828384858687888990919293949596979899";
    std::memcpy(out, kPairs + 2 * value, 2);
    return out + 2;
}

// "YYYYMMDDHHMMSS[.f]Z" where the fraction has no trailing zeros and is left out when it is
// zero (X.690 11.7.3, 11.7.4). Returns the text length.
size_t FormatUtc(const Asn1DateTime &dt, char out[32])
{
    char *end = PutTwoDigits(out, dt.year / 100u);
    end = PutTwoDigits(end, dt.year % 100u);
    for (const unsigned field : {dt.month, dt.day, dt.hour, dt.minute, dt.second})
        end = PutTwoDigits(end, field);
    ASN1UINT fraction = dt.fraction;
    unsigned digits = dt.fractionDigits;
    while (digits && fraction % 10 == 0) {
        fraction /= 10;
        digits--;
    }
    if (digits) {
        *end++ = '.';
        end = PutDigits(end, fraction, digits);
    }
    *end++ = 'Z';
    *end = '\0';
    return static_cast<size_t>(end - out);
}

int StoreText(Asn1Context *pctxt, const char *text, size_t length, char **ppText, size_t bufsize)
{
    if (bufsize == 0) {
        if (!pctxt) return ASN_E_INVPARAM;
        *ppText = static_cast<char *>(ASN1MALLOC(pctxt, length + 1));
        if (!*ppText) return ASN_E_NOMEM;
    } else if (!*ppText) {
        return ASN_E_INVPARAM;
    } else if (bufsize <= length) {
        return ASN_E_STROVFLW;
    }
    std::memcpy(*ppText, text, length + 1);
    return ASN_OK;
}

} // namespace

extern "C" int rtParseGeneralizedTime(Asn1Context *, const char *text, Asn1DateTime *pDateTime)
{
    if (!text || !pDateTime) return ASN_E_INVPARAM;
    Asn1DateTime parsed{};
    if (!ParseText(text, &parsed)) return ASN_E_BADVALUE;
    *pDateTime = parsed;
    return ASN_OK;
}

extern "C" int rtMakeGeneralizedTime(Asn1Context *pctxt, const Asn1DateTime *pDateTime,
                                     char **ppText, size_t bufsize)
{
    if (!pDateTime || !ppText) return ASN_E_INVPARAM;
    Asn1DateTime utc = *pDateTime;
    if (!ValidFields(utc) || !ValidFraction(utc) || (!utc.utc && !ToUtc(&utc)))
        return ASN_E_BADVALUE;
    char text[32]; // "YYYYMMDDHHMMSS.fffffffffZ" and the terminator
    const size_t length = FormatUtc(utc, text);
    return StoreText(pctxt, text, length, ppText, bufsize);
}
