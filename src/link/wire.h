#pragma once
// The scale's wire encodings as pure functions: its character set, digit and
// shelf-life fields, the packing of the logo number and certification code
// into the goods names, little-endian integers, and the byte layouts of every
// request and reply record. Texts are Windows-1251 bytes on the PC side.
#include <array>
#include <cstdint>
#include <string>

namespace wire {

inline constexpr unsigned char Ack = 0xAA;
inline constexpr unsigned char EmptyCell = 0xEE;
inline constexpr unsigned char HandshakeAnswer = 0x80;

// Command bytes.
enum Command : unsigned char {
  GetPluCmd = 0x81, SendPluCmd = 0x82, GetMsgCmd = 0x83, SendMsgCmd = 0x84,
  GetTotalCmd = 0x85, ClearTotalCmd = 0x86, GetStatusCmd = 0x89, SendUserSetCmd = 0x8A,
  SendPrSetCmd = 0x8B, SendLogoCmd = 0x8C, DeletePluCellCmd = 0x8D, ClearPluTotalsCmd = 0x92,
  SendShopCmd = 0x94, GetUserSetCmd = 0x95, GetPrSetCmd = 0x96, GetLogoCmd = 0x97,
  GetShopCmd = 0x98, SendDateCmd = 0x99, SendTimeCmd = 0x9A, GetFactorySetCmd = 0x9B,
};

// Widths of the text fields.
inline constexpr std::size_t kNameWidth = 28, kLineWidth = 50, kShopWidth = 28;
// Lengths of the replies that follow a status byte, and of whole replies.
inline constexpr std::size_t kPluReplyBody = 100, kMsgReplyBody = 401;
inline constexpr std::size_t kStatusReply = 16, kTotalsReply = 41, kUserSetReply = 10, kShopReply = 57;
inline constexpr std::size_t kLogoBytes = 512, kPrSetReply = 5, kFactoryReply = 14;

// ---- Character set ----
// Windows-1251 to the scale: Cyrillic letters to code page 866, every other
// byte unchanged.
unsigned char toScale(unsigned char b);
// The scale to Windows-1251; with blankZero a 0x00 becomes a blank.
unsigned char fromScale(unsigned char b, bool blankZero);
// The first width characters of text, converted. A text shorter than width
// is completed with blanks (callers normally hand over at least width).
std::string textToWire(const std::string& text, std::size_t width);
std::string wireToText(const unsigned char* p, std::size_t n, bool blankZero);

// ---- Numbers ----
// Little-endian integer of n bytes: byte i is the low 8 bits of v mod 256
// after i truncating divisions by 256.
void putLE(std::string& out, long long v, int n);
// Assembled little-endian from whole bytes (n = 2, 3 or 4; 4 as signed 32 bit).
int getLE(const unsigned char* p, int n);
// One decimal digit per byte, least significant first; the last byte takes
// everything above (its low 8 bits).
std::string digitField(int v, int n);
int readDigitField(const unsigned char* p, int n);
unsigned char bcd(int v);
int fromBcd(unsigned char b);

// ---- Shelf life ----
// The 3-byte field from the text of LIFE: days when the whole text is an
// integer, else a date d.m.y. Throws intconv::ConvertError for anything else.
std::string lifeField(const std::string& life);
std::string readLifeField(unsigned char b0, unsigned char b1, unsigned char b2);
// Three BCD bytes as text: date bytes day, month, year as "dd.mm.yy"; time
// bytes seconds, minutes, hours as "hh:mm:ss".
std::string bcdDateText(unsigned char day, unsigned char month, unsigned char year);
std::string bcdTimeText(unsigned char seconds, unsigned char minutes, unsigned char hours);

// ---- Logo number and certification code inside the names ----
// Only when logotype is not 0; names of at least 28 and rst of at least 4
// characters (shorter ones are completed with blanks first).
void packLogoRst(std::string& name1, std::string& name2, int logotype, const std::string& rst);
// Only when character 25 of both names is 0x00; otherwise leaves everything.
void unpackLogoRst(std::string& name1, std::string& name2, int& logotype, std::string& rst);

// ---- Goods records ----
// The whole 0x82 request (command byte and record, 84 bytes).
std::string pluRequest(int PLUNO, const std::string& NAME1, const std::string& NAME2, int PRICE,
                       const std::string& LIFE, int TARE, int ICODE, int GCODE, int LOGOTYPE,
                       const std::string& RST, int MSGNO);
std::string getPluRequest(int PLUNO);

struct PluReply {
  int PLUNO = 0, ICODE = 0, PRICE = 0, TARE = 0, GCODE = 0, MSGNO = 0, LOGOTYPE = 0;
  std::string NAME1, NAME2, LIFE, RST, StartDate, StartTime;
  // The sales sum and weight are unsigned 32-bit counters.
  uint32_t SUMM = 0, WEIGHT = 0;
  int COUNTER = 0;
};
// Decodes the 100 bytes that follow the status byte of a 0x81 reply.
PluReply decodePluReply(const unsigned char* body);

// ---- Messages and deletes ----
// The whole 0x84 request (403 bytes); lines shorter than 50 are blank-filled.
std::string msgRequest(int MSGNO, const std::array<std::string, 8>& lines);
std::string getMsgRequest(int MSGNO);
// The eight lines of the 401 bytes that follow the status byte of a 0x83 reply.
std::array<std::string, 8> decodeMsgReply(const unsigned char* body);
// 0x8D (mode 0) or 0x92 (any other mode) with the cell's 32-bit value.
std::string deleteRequest(int deleteMode, int number);

// ---- Settings, state and totals ----
struct StatusReply {
  int Flags = 0, Weight = 0, Price = 0, Amount = 0, Plu = 0;
};
StatusReply decodeStatus(const unsigned char* reply16);

struct TotalsReply {
  int TapeRun = 0, Labels = 0, GrandSum = 0, Sales = 0, GrandWeight = 0;
  int ValueA = 0, ValueB = 0, ValueC = 0;
  int ClearDate = 0, ClearTime = 0;  // ddmmyy and hhmmss as decimal numbers
  int FreePlu = 0, FreeMsg = 0;
};
TotalsReply decodeTotals(const unsigned char* reply41);

struct UserSettings {
  int Department = 0, LabelFormat = 0, BarcodeFormat = 0, PrintOffset = 0, Flags = 0, MinWeight = 0;
};
UserSettings decodeUserSet(const unsigned char* reply10);
std::string userSetRequest(int department, int labelFormat, int barcodeFormat, int printOffset,
                           int flags, int minWeight);
std::string shopRequest(const std::string& line1, const std::string& line2);
std::string prSetRequest(int cell, int key);
std::string dateRequest(int day, int month, int year);
std::string timeRequest(int hour, int minute, int second);

// ---- Logo, price keys, factory settings ----
std::string logoRequest(const std::string& raster);  // 0x8C and 512 bytes
int decodePrSetCell(const unsigned char* reply5);

struct FactorySettings {
  int Capacity = 0;          // grams
  int PointWeight = 0, PointPrice = 0, PointAmount = 0;  // decimal-point codes
  int DualRange = 0;         // 0 = off
  int DivisionUpper = 0, DivisionLower = 0;
  int Rounding = 0;
  int PriceWeight = 0;       // grams the price refers to
  int TareLimit = 0;         // grams
};
FactorySettings decodeFactorySet(const unsigned char* reply14);

}  // namespace wire
