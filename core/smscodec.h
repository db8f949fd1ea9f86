// The text codecs of SMS and USSD: the GSM 7-bit default alphabet packed into octets (as hex or
// binary) and UCS-2 hex, converted in place to and from the program's single-byte text (Latin-1
// letters). All of them work in the caller's buffer, without allocation and without locks.
#pragma once

#include <cstddef>

// Packs the text in t (UTF-8 umlauts folded to single bytes first) into GSM 7-bit octets, in
// place. capacity is the size of the buffer t in bytes; only as many characters are packed as
// their result fits: 2 * ceil(7n/8) + 1 bytes as upper-case hex with a NUL (bin false), or
// ceil(7n/8) octets followed by two zero bytes (bin true). At most maxlen characters are packed;
// characters without a GSM form become '_'. Returns the number of characters packed.
// crfuellung (USSD): when 8n-1 characters leave 7 spare bits in the last octet, they carry a
// CR instead of zeros, so that the network does not read a trailing '@'. An SMS gives its
// length in septets and keeps the zero fill.
int strtosevenhex(char* t, size_t capacity, bool bin, int maxlen, bool crfuellung = false);
template <size_t N> int strtosevenhex(char (&t)[N], bool bin, int maxlen, bool crfuellung = false) {
    return strtosevenhex(t, N, bin, maxlen, crfuellung);
}

// Unpacks GSM 7-bit septets given as hex (either case) in place into single-byte text. Refuses
// (false, t unchanged) a null text, one shorter than 4 characters, of odd length, or with a
// character that is not a hex digit. Escape sequences give their extension character ('{', the
// euro as 'E', ...); an escape without a known follower stays a blank. A septet 0 that only
// fills the last of 7k octets is dropped.
bool sevenhextostr(char* t);

// Converts UCS-2 hex (4 hex digits a character) in place into single-byte text. Refuses (false,
// t unchanged) unless t is at least 8 characters long, a multiple of 4 long, all hex digits, and
// its first and fifth characters are '0'. Characters above U+00FF, and U+0000, become '_'.
bool utf16hextostr(char* t);

// Unpacks GSM 7-bit septets from the binary octets o (anzahl of them), starting at bit
// bitversatz (behind a user-data header and its fill bits), into single-byte text in out of
// size n, terminated whenever n > 0. Escapes as in sevenhextostr. At most 'septets' septets,
// and only those the octets hold completely, are read; the text stops when out is full.
// Returns the length of the text.
size_t sc_septetsentpacken(const unsigned char* o, size_t anzahl, size_t bitversatz, size_t septets,
                           char* out, size_t n);

// Converts UCS-2 big-endian octets (anzahl of them; an odd last octet is ignored) into
// single-byte text in out of size n, terminated whenever n > 0. Unlike utf16hextostr it
// takes any first character: Latin-1 stays as it is, the euro sign becomes 'E' as in the
// 7-bit decoder, anything else (and U+0000) becomes '_'. Returns the length of the text.
size_t sc_ucs2entpacken(const unsigned char* o, size_t anzahl, char* out, size_t n);

// Single lookups in the alphabet tables, for decoders that unpack septets themselves (the SMS
// PDU) and for counting: a septet (0..127, higher bits ignored) to its byte, and a byte to the
// septet it is sent as.
unsigned char sc_septetzeichen(unsigned septet);
unsigned char sc_zeichenseptet(unsigned char zeichen);
