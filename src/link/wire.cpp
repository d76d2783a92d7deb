#include "link/wire.h"

#include "platform/intconv.h"

namespace wire {

unsigned char toScale(unsigned char b) {
  if (b >= 0xC0 && b <= 0xEF) return uint8_t(b - 0x40);
  if (b >= 0xF0) return uint8_t(b - 0x10);
  if (b == 0xA8) return 0xF0;
  if (b == 0xB8) return 0xF1;
  return b;
}

unsigned char fromScale(unsigned char b, bool blankZero) {
  if (b >= 0x80 && b <= 0xAF) return uint8_t(b + 0x40);
  if (b >= 0xE0 && b <= 0xEF) return uint8_t(b + 0x10);
  if (b == 0x00 && blankZero) return 0x20;
  if (b == 0xF0) return 0xA8;
  if (b == 0xF1) return 0xB8;
  return b;
}

std::string textToWire(const std::string& text, std::size_t width) {
  std::string out(width, ' ');
  for (std::size_t i = 0; i < width && i < text.size(); ++i)
    out[i] = char(toScale(static_cast<unsigned char>(text[i])));
  return out;
}

std::string wireToText(const unsigned char* p, std::size_t n, bool blankZero) {
  std::string out(n, ' ');
  for (std::size_t i = 0; i < n; ++i) out[i] = char(fromScale(p[i], blankZero));
  return out;
}

void putLE(std::string& out, long long v, int n) {
  for (int i = 0; i < n; ++i) {
    out += char(uint8_t(i + 1 < n ? v % 256 : v));
    v /= 256;
  }
}

uint32_t getLEUnsigned(const unsigned char* p, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

int getLE(const unsigned char* p, int n) { return int32_t(getLEUnsigned(p, n)); }

std::string digitField(int v, int n) {
  std::string out;
  long long p = 1;
  for (int i = 0; i < n; ++i, p *= 10) out += char(uint8_t(i + 1 < n ? (v / p) % 10 : v / p));
  return out;
}

int readDigitField(const unsigned char* p, int n) {
  int v = 0, f = 1;
  for (int i = 0; i < n; ++i, f *= 10) v += p[i] * f;
  return v;
}

unsigned char bcd(int v) { return uint8_t((static_cast<long long>(v) / 10) * 16 + v % 10); }
int fromBcd(unsigned char b) { return (b >> 4) * 10 + (b & 0x0F); }

std::string lifeField(const std::string& life) {
  std::string out;
  if (const auto days = intconv::tryParse(life)) {
    out += char(0);
    out += char(uint8_t(*days / 100));
    out += char(bcd(*days % 100));
    return out;
  }
  // A date d.m.y; the year runs to the end of the text.
  const auto p1 = life.find('.');
  const auto p2 = p1 == std::string::npos ? p1 : life.find('.', p1 + 1);
  if (p2 == std::string::npos)
    throw intconv::ConvertError("'" + life + "' is not a valid integer value");
  out += char(bcd(intconv::parse(life.substr(0, p1))));
  out += char(bcd(intconv::parse(life.substr(p1 + 1, p2 - p1 - 1))));
  out += char(bcd(intconv::parse(life.substr(p2 + 1))));
  return out;
}

namespace {
// The six half-bytes of three bytes, each as a decimal number, joined.
std::string halfBytes(unsigned char a, unsigned char b, unsigned char c) {
  std::string s;
  for (unsigned char x : {a, b, c}) {
    s += std::to_string(x >> 4);
    s += std::to_string(x & 0x0F);
  }
  return s;
}
std::string grouped(const std::string& s, char sep) {
  return s.substr(0, 2) + sep + s.substr(2, 2) + sep + s.substr(4, 2);
}
}  // namespace

std::string readLifeField(unsigned char b0, unsigned char b1, unsigned char b2) {
  if (b0 == 0) return std::to_string(b1 * 100 + (b2 >> 4) * 10 + (b2 & 0x0F));
  return grouped(halfBytes(b0, b1, b2), '.');
}

std::string bcdDateText(unsigned char day, unsigned char month, unsigned char year) {
  return grouped(halfBytes(day, month, year), '.');
}

std::string bcdTimeText(unsigned char seconds, unsigned char minutes, unsigned char hours) {
  return grouped(halfBytes(hours, minutes, seconds), ':');
}

void packLogoRst(std::string& name1, std::string& name2, int logotype, const std::string& rst) {
  if (logotype == 0) return;
  if (name1.size() < kNameWidth) name1.resize(kNameWidth, ' ');
  if (name2.size() < kNameWidth) name2.resize(kNameWidth, ' ');
  std::string r = rst;
  if (r.size() < 4) r.resize(4, ' ');
  const char logo = char(uint8_t(logotype));
  name1[24] = 0;
  name1[25] = logo;
  name1[26] = r[1];
  name1[27] = r[3];
  name2[24] = 0;
  name2[25] = logo;
  name2[26] = r[0];
  name2[27] = r[2];
}

void unpackLogoRst(std::string& name1, std::string& name2, int& logotype, std::string& rst) {
  if (name1.size() < kNameWidth || name2.size() < kNameWidth || name1[24] != 0 || name2[24] != 0) return;
  logotype = static_cast<unsigned char>(name1[25]);
  rst = {name2[26], name1[26], name2[27], name1[27]};
  for (int i = 24; i < 28; ++i) name1[i] = name2[i] = ' ';
}

std::string pluRequest(int PLUNO, const std::string& NAME1, const std::string& NAME2, int PRICE,
                       const std::string& LIFE, int TARE, int ICODE, int GCODE, int LOGOTYPE,
                       const std::string& RST, int MSGNO) {
  // The shelf life is converted first: a text that does not convert leaves
  // nothing half-built.
  const std::string life = lifeField(LIFE);
  std::string n1 = NAME1, n2 = NAME2;
  packLogoRst(n1, n2, LOGOTYPE, RST);
  std::string out(1, char(SendPluCmd));
  putLE(out, PLUNO, 4);
  out += digitField(ICODE, 6);
  out += textToWire(n1, kNameWidth);
  out += textToWire(n2, kNameWidth);
  putLE(out, PRICE, 4);
  out += life;
  putLE(out, TARE, 2);
  out += digitField(GCODE, 6);
  putLE(out, MSGNO, 2);
  return out;
}

std::string getPluRequest(int PLUNO) {
  std::string out(1, char(GetPluCmd));
  putLE(out, PLUNO, 4);
  return out;
}

PluReply decodePluReply(const unsigned char* b) {
  PluReply r;
  r.PLUNO = getLE(b, 4);
  r.ICODE = readDigitField(b + 4, 6);
  r.NAME1 = wireToText(b + 10, kNameWidth, false);
  r.NAME2 = wireToText(b + 38, kNameWidth, false);
  r.PRICE = getLE(b + 66, 4);
  r.LIFE = readLifeField(b[70], b[71], b[72]);
  r.TARE = getLE(b + 73, 2);
  r.GCODE = readDigitField(b + 75, 6);
  r.MSGNO = getLE(b + 81, 2);
  r.StartTime = bcdTimeText(b[83], b[84], b[85]);
  r.StartDate = bcdDateText(b[86], b[87], b[88]);
  r.SUMM = getLEUnsigned(b + 89, 4);
  r.WEIGHT = getLEUnsigned(b + 93, 4);
  r.COUNTER = getLE(b + 97, 3);
  unpackLogoRst(r.NAME1, r.NAME2, r.LOGOTYPE, r.RST);
  return r;
}

std::string msgRequest(int MSGNO, const std::array<std::string, 8>& lines) {
  std::string out(1, char(SendMsgCmd));
  putLE(out, MSGNO, 2);
  for (const auto& line : lines) out += textToWire(line, kLineWidth);
  return out;
}

std::string getMsgRequest(int MSGNO) {
  std::string out(1, char(GetMsgCmd));
  putLE(out, MSGNO, 2);
  return out;
}

std::array<std::string, 8> decodeMsgReply(const unsigned char* body) {
  std::array<std::string, 8> lines;
  for (std::size_t i = 0; i < 8; ++i) lines[i] = wireToText(body + kLineWidth * i, kLineWidth, true);
  return lines;
}

std::string deleteRequest(int deleteMode, int number) {
  std::string out(1, char(deleteMode == 0 ? DeletePluCellCmd : ClearPluTotalsCmd));
  const uint32_t v = uint32_t(number);  // the 32-bit value as it lies in memory
  for (int i = 0; i < 4; ++i) out += char(uint8_t(v >> (8 * i)));
  return out;
}

StatusReply decodeStatus(const unsigned char* r) {
  StatusReply s;
  s.Flags = r[1];
  s.Weight = getLE(r + 2, 2);
  s.Price = getLE(r + 4, 4);
  s.Amount = getLE(r + 8, 4);
  s.Plu = getLE(r + 12, 4);
  return s;
}

TotalsReply decodeTotals(const unsigned char* r) {
  TotalsReply t;
  t.TapeRun = getLE(r + 1, 4);
  t.Labels = getLE(r + 5, 4);
  t.GrandSum = getLE(r + 9, 4);
  t.Sales = getLE(r + 13, 3);
  t.GrandWeight = getLE(r + 16, 4);
  t.ValueA = getLE(r + 20, 4);
  t.ValueB = getLE(r + 24, 3);
  t.ValueC = getLE(r + 27, 4);
  t.ClearTime = fromBcd(r[33]) * 10000 + fromBcd(r[32]) * 100 + fromBcd(r[31]);
  t.ClearDate = fromBcd(r[34]) * 10000 + fromBcd(r[35]) * 100 + fromBcd(r[36]);
  t.FreePlu = getLE(r + 37, 2);
  t.FreeMsg = getLE(r + 39, 2);
  return t;
}

UserSettings decodeUserSet(const unsigned char* r) {
  UserSettings u;
  u.Department = r[3] * 100 + r[2] * 10 + r[1];
  u.LabelFormat = r[4];
  u.BarcodeFormat = r[5];
  u.PrintOffset = r[6];
  u.Flags = r[7];
  u.MinWeight = getLE(r + 8, 2);
  return u;
}

std::string userSetRequest(int department, int labelFormat, int barcodeFormat, int printOffset,
                           int flags, int minWeight) {
  std::string out(1, char(SendUserSetCmd));
  for (int v : {department % 10, (department / 10) % 10, department / 100, labelFormat, barcodeFormat,
                printOffset, flags, minWeight % 256, minWeight / 256})
    out += char(uint8_t(v));
  return out;
}

std::string shopRequest(const std::string& line1, const std::string& line2) {
  return std::string(1, char(SendShopCmd)) + textToWire(line1, kShopWidth) + textToWire(line2, kShopWidth);
}

std::string prSetRequest(int cell, int key) {
  std::string out(1, char(SendPrSetCmd));
  for (int v : {cell % 256, (cell / 256) % 256, (cell / 65536) % 256, cell / 16777216, key})
    out += char(uint8_t(v));
  return out;
}

namespace {
std::string twoDigits(unsigned char cmd, int a, int b, int c) {
  std::string out(1, char(cmd));
  for (int v : {a, b, c}) {
    out += char(uint8_t(v / 10));
    out += char(uint8_t(v % 10));
  }
  return out;
}
}  // namespace

std::string dateRequest(int day, int month, int year) { return twoDigits(SendDateCmd, day, month, year); }
std::string timeRequest(int hour, int minute, int second) {
  return twoDigits(SendTimeCmd, hour, minute, second);
}

std::string logoRequest(const std::string& raster) {
  std::string body = raster;
  body.resize(kLogoBytes, '\0');
  return std::string(1, char(SendLogoCmd)) + body;
}

int decodePrSetCell(const unsigned char* r) { return getLE(r + 1, 4); }

FactorySettings decodeFactorySet(const unsigned char* r) {
  FactorySettings f;
  f.Capacity = getLE(r + 1, 2);
  f.PointWeight = r[3];
  f.PointPrice = r[4];
  f.PointAmount = r[5];
  f.DualRange = r[6];
  f.DivisionUpper = r[7];
  f.DivisionLower = r[8];
  f.Rounding = getLE(r + 9, 2);
  f.PriceWeight = r[11];
  f.TareLimit = getLE(r + 12, 2);
  return f;
}

}  // namespace wire
