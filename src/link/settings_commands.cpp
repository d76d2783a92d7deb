// The settings, state and totals commands, and the logo, price-key and
// factory-settings exchanges: one exchange each on the open connection.
#include "link/scale_link.h"
#include "link/wire.h"
#include "platform/clock.h"
#include "shell/tform1.h"

using scalelink::acknowledgedReply;
using scalelink::acknowledgedWrite;

namespace {

// The reads whose status byte is not examined: pause, one wait, then the
// reply, which must be whole within the time-out.
bool pausedRead(TcpClient& client, const std::string& request, int pause, unsigned char* reply, std::size_t n,
                int timeOut) {
  scalelink::sendRequest(client, request);
  clock_::sleep(pause);
  const scalelink::Deadline deadline = scalelink::replyDeadline(timeOut);
  if (!scalelink::waitForReply(client, timeOut)) return false;
  return scalelink::receivePart(client, reply, n, deadline) == n;
}

}  // namespace

bool TForm1::GetStatus(int& Flags, int& Weight, int& Price, int& Amount, int& Plu, int TimeOut) {
  Weight = Price = Amount = Plu = 0;
  unsigned char r[wire::kStatusReply] = {};
  if (!acknowledgedReply(TcpClient1, std::string(1, char(wire::GetStatusCmd)), r, sizeof r, TimeOut))
    return false;
  const wire::StatusReply s = wire::decodeStatus(r);
  Flags = s.Flags;
  Weight = s.Weight;
  Price = s.Price;
  Amount = s.Amount;
  Plu = s.Plu;
  return true;
}

bool TForm1::GetTotal(int& TapeRun, int& Labels, int& GrandSum, int& Sales, int& GrandWeight, int& ValueA,
                      int& ValueB, int& ValueC, int& ClearDate, int& ClearTime, int& FreePlu, int& FreeMsg,
                      int TimeOut) {
  unsigned char r[wire::kTotalsReply] = {};
  if (!acknowledgedReply(TcpClient1, std::string(1, char(wire::GetTotalCmd)), r, sizeof r, TimeOut))
    return false;
  const wire::TotalsReply t = wire::decodeTotals(r);
  TapeRun = t.TapeRun;
  Labels = t.Labels;
  GrandSum = t.GrandSum;
  Sales = t.Sales;
  GrandWeight = t.GrandWeight;
  ValueA = t.ValueA;
  ValueB = t.ValueB;
  ValueC = t.ValueC;
  ClearDate = t.ClearDate;
  ClearTime = t.ClearTime;
  FreePlu = t.FreePlu;
  FreeMsg = t.FreeMsg;
  return true;
}

bool TForm1::ClearTotal(int TimeOut) {
  return acknowledgedWrite(TcpClient1, std::string(1, char(wire::ClearTotalCmd)), TimeOut);
}

bool TForm1::GetUserSet(int& Department, int& LabelFormat, int& BarcodeFormat, int& PrintOffset, int& Flags,
                        int& MinWeight, int TimeOut) {
  unsigned char r[wire::kUserSetReply] = {};
  if (!acknowledgedReply(TcpClient1, std::string(1, char(wire::GetUserSetCmd)), r, sizeof r, TimeOut))
    return false;
  const wire::UserSettings u = wire::decodeUserSet(r);
  Department = u.Department;
  LabelFormat = u.LabelFormat;
  BarcodeFormat = u.BarcodeFormat;
  PrintOffset = u.PrintOffset;
  Flags = u.Flags;
  MinWeight = u.MinWeight;
  return true;
}

bool TForm1::SendUserSet(int Department, int LabelFormat, int BarcodeFormat, int PrintOffset, int Flags,
                         int MinWeight, int TimeOut) {
  return acknowledgedWrite(
      TcpClient1, wire::userSetRequest(Department, LabelFormat, BarcodeFormat, PrintOffset, Flags, MinWeight),
      TimeOut);
}

bool TForm1::GetShop(int TimeOut, std::string& Line1, std::string& Line2) {
  unsigned char r[wire::kShopReply] = {};
  if (!acknowledgedReply(TcpClient1, std::string(1, char(wire::GetShopCmd)), r, sizeof r, TimeOut))
    return false;
  Line1 = wire::wireToText(r + 1, wire::kShopWidth, true);
  Line2 = wire::wireToText(r + 1 + wire::kShopWidth, wire::kShopWidth, true);
  return true;
}

bool TForm1::SendShop(int TimeOut, const std::string& Line1, const std::string& Line2) {
  return acknowledgedWrite(TcpClient1, wire::shopRequest(Line1, Line2), TimeOut);
}

bool TForm1::SendPrSet(int Cell, int Key, int TimeOut) {
  clock_::processEvents();
  return acknowledgedWrite(TcpClient1, wire::prSetRequest(Cell, Key), TimeOut);
}

bool TForm1::SendDate(int Day, int Month, int Year, int TimeOut) {
  return acknowledgedWrite(TcpClient1, wire::dateRequest(Day, Month, Year), TimeOut);
}

bool TForm1::SendTime(int Hour, int Minute, int Second, int TimeOut) {
  return acknowledgedWrite(TcpClient1, wire::timeRequest(Hour, Minute, Second), TimeOut);
}

bool TForm1::SendLogo(const std::string& Raster, int TimeOut) {
  return acknowledgedWrite(TcpClient1, wire::logoRequest(Raster), TimeOut);
}

bool TForm1::GetLogo(std::string& Raster, int TimeOut) {
  unsigned char r[1 + wire::kLogoBytes] = {};
  if (!pausedRead(TcpClient1, std::string(1, char(wire::GetLogoCmd)), 900, r, sizeof r, TimeOut)) return false;
  Raster.assign(reinterpret_cast<const char*>(r + 1), wire::kLogoBytes);
  return true;
}

bool TForm1::GetPrSet(int Key, int& Cell, int TimeOut) {
  unsigned char r[wire::kPrSetReply] = {};
  const std::string request{char(wire::GetPrSetCmd), char(uint8_t(Key))};
  if (!pausedRead(TcpClient1, request, 50, r, sizeof r, TimeOut)) return false;
  Cell = wire::decodePrSetCell(r);
  return true;
}

bool TForm1::GetFactorySet(std::string& Reply, int TimeOut) {
  unsigned char r[wire::kFactoryReply] = {};
  if (!pausedRead(TcpClient1, std::string(1, char(wire::GetFactorySetCmd)), 50, r, sizeof r, TimeOut))
    return false;
  Reply.assign(reinterpret_cast<const char*>(r), sizeof r);
  return true;
}
