// The DBF table file, byte for byte: the 32-byte header, the 32-byte field
// descriptors, the record layout and the encodings of the five field types.
// Pure functions over caller buffers: nothing here touches files, Items or
// the settings; the driver (rdd/dbf/dbf_driver.cpp) owns the files and decides
// which error each result becomes.
//
// Layout (little-endian):
//   header      0 version 0x03 / 0x83 (memo), 1-3 date of last update
//               (year-1900, month, day), 4 record count (32-bit), 8 header
//               length (16-bit), 10 record length (16-bit, with the deletion
//               flag), 12-27 zero, 28-29 kept as read, 30-31 zero
//   descriptor  0 name (10 chars + NUL), 11 type letter, 16 length,
//               17 decimals (C fields: high byte of a 16-bit length)
//   after the descriptors of a created table: 0x0D 0x00 (in the header
//   length) and the end-of-file byte 0x1A; records at the header length,
//   byte 0 ' ' or '*', then the fields at consecutive offsets.
#pragma once
#include <cstdint>

namespace xb {

constexpr uint32_t kDbfHeaderSize = 32;
constexpr uint32_t kDbfDescriptorSize = 32;
constexpr uint8_t kDbfVersionPlain = 0x03;
constexpr uint8_t kDbfVersionMemo = 0x83;
constexpr uint8_t kDbfHeaderEnd = 0x0D;
constexpr uint8_t kDbfEofMark = 0x1A;
constexpr uint32_t kDbfFieldNameMax = 10;
// The largest field count whose header length (32 x fields + 34) still fits
// the 16-bit header-length field.
constexpr uint32_t kDbfMaxFields = 2046;
constexpr uint32_t kDbfMaxRecordLength = 65535;
constexpr uint32_t kDbfMemoFieldLength = 10;

struct DbfHeader {
    uint8_t version;
    uint8_t year;   // since 1900
    uint8_t month;
    uint8_t day;
    uint32_t recordCount;
    uint16_t headerLength;
    uint16_t recordLength;
    uint16_t keep28;  // bytes 28-29, written back as read
};

// One field as the file describes it. length is the full (16-bit for C)
// length; decimals is 0 for C fields.
struct DbfField {
    char name[kDbfFieldNameMax + 1];
    char type;
    uint16_t length;
    uint8_t decimals;
};

void dbfHeaderDecode(const uint8_t* bytes, DbfHeader* out);
void dbfHeaderEncode(const DbfHeader& header, uint8_t* bytes);  // 32 bytes

void dbfFieldDecode(const uint8_t* bytes, DbfField* out);
void dbfFieldEncode(const DbfField& field, uint8_t* bytes);  // 32 bytes

// Field lengths forced by the type: D 8, L 1, M 10; others as asked.
uint16_t dbfForcedLength(char type, uint16_t asked);

// What an opened file's layout is worth. Each check names one corruption:
// a version other than 0x03/0x83, a header length below one descriptor's
// room (or not reaching the descriptors it claims), a record length of 0
// or below 1 + the sum of the field lengths, a type letter other than
// C D L M N.
enum class DbfLayout : uint8_t { Ok, BadVersion, BadHeaderLength, BadRecordLength, BadFieldType, NoFields };
bool dbfVersionValid(uint8_t version);
uint32_t dbfFieldCountOf(uint16_t headerLength);  // (length - 32) / 32, 0 below 32
DbfLayout dbfCheckFields(const DbfField* fields, uint32_t count, uint16_t recordLength);

// ---- field encodings ------------------------------------------------------
// N: the number right-aligned with the declared decimals. False when it does
// not fit (the formatter wrote asterisks); out is then left unchanged.
bool dbfEncodeNumber(double value, uint16_t length, uint16_t decimals, char* out);
double dbfDecodeNumber(const char* field, uint16_t length);
// D: YYYYMMDD, 8 blanks for the empty date. Decoding a field that is not a
// valid date gives the empty date.
void dbfEncodeDate(int32_t jdn, char* out);
int32_t dbfDecodeDate(const char* field);
// L: "T"/"F"; T t Y y read as true.
inline char dbfEncodeLogical(bool v) { return v ? 'T' : 'F'; }
inline bool dbfDecodeLogical(char c) { return c == 'T' || c == 't' || c == 'Y' || c == 'y'; }
// C: the text cut or blank-padded to the length.
void dbfEncodeText(const char* text, uint32_t n, uint16_t length, char* out);
// M: the first block number in 10 characters, right-aligned, blanks for 0.
// Reading skips every character that is not a digit. A value that would not
// fit 32 bits reads as 0xFFFFFFFF (beyond any memo file).
void dbfEncodeMemoBlock(uint32_t block, char* out);
uint32_t dbfDecodeMemoBlock(const char* field);

// The date of the last update from today's date.
void dbfStampHeader(DbfHeader* header, int year, int month, int day);

}  // namespace xb
