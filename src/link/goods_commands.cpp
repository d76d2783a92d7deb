// Commands on goods records and messages, and the delete of a PLU cell or of
// its sales totals: one exchange each on the open connection.
#include "link/scale_link.h"
#include "link/wire.h"
#include "platform/clock.h"
#include "shell/tform1.h"

namespace {

enum class RecordRead { Failed, Empty, Record };

// The record reads: request, pause (taken once the request is out), one
// wait, the status byte; any status but EmptyCell is followed by n bytes into
// body. A record that is not whole within the time-out fails the read like
// no reply at all: its part is never taken for the whole.
RecordRead readRecord(TcpClient& client, const std::string& request, int pause, unsigned char* body,
                      std::size_t n, int timeOut) {
  scalelink::sendRequest(client, request);
  clock_::sleep(pause);
  const scalelink::Deadline deadline = scalelink::replyDeadline(timeOut);
  if (!scalelink::waitForReply(client, timeOut)) return RecordRead::Failed;
  unsigned char status = 0;
  client.ReceiveBuf(&status, 1);
  if (status == wire::EmptyCell) return RecordRead::Empty;
  return scalelink::receivePart(client, body, n, deadline) == n ? RecordRead::Record : RecordRead::Failed;
}

}  // namespace

bool TForm1::SendPlu(int PLUNO, const std::string& NAME1, const std::string& NAME2, int PRICE,
                     const std::string& LIFE, int TARE, int ICODE, int GCODE, int LOGOTYPE,
                     const std::string& RST, int MSGNO, int TimeOut) {
  // Built whole before anything is sent, so a shelf life that does not
  // convert raises its error with nothing of the record on the wire.
  const std::string request =
      wire::pluRequest(PLUNO, NAME1, NAME2, PRICE, LIFE, TARE, ICODE, GCODE, LOGOTYPE, RST, MSGNO);
  return scalelink::acknowledgedWrite(TcpClient1, request, TimeOut);
}

bool TForm1::GetPlu(int& PLUNO, std::string& NAME1, std::string& NAME2, int& PRICE, std::string& LIFE,
                    int& TARE, int& ICODE, int& GCODE, int& MSGNO, int& LOGOTYPE, std::string& RST,
                    std::string& StartDate, std::string& StartTime, uint32_t& SUMM, uint32_t& WEIGHT, int& COUNTER,
                    int TimeOut) {
  RST.clear();
  LOGOTYPE = 0;
  PRICE = 0;
  // A third of the run's time-out lets the whole record arrive.
  unsigned char body[wire::kPluReplyBody] = {};
  switch (readRecord(TcpClient1, wire::getPluRequest(PLUNO), TimeOut / 3, body, sizeof body, TimeOut)) {
    case RecordRead::Failed:
      return false;
    case RecordRead::Empty:
      PRICE = -1;
      return false;
    case RecordRead::Record:
      break;
  }
  const wire::PluReply r = wire::decodePluReply(body);
  PLUNO = r.PLUNO;
  ICODE = r.ICODE;
  NAME1 = r.NAME1;
  NAME2 = r.NAME2;
  PRICE = r.PRICE;
  LIFE = r.LIFE;
  TARE = r.TARE;
  GCODE = r.GCODE;
  MSGNO = r.MSGNO;
  StartTime = r.StartTime;
  StartDate = r.StartDate;
  SUMM = r.SUMM;
  WEIGHT = r.WEIGHT;
  COUNTER = r.COUNTER;
  LOGOTYPE = r.LOGOTYPE;
  RST = r.RST;
  return true;
}

bool TForm1::SendMsg(int MSGNO, const std::string& LINE1, const std::string& LINE2, const std::string& LINE3,
                     const std::string& LINE4, const std::string& LINE5, const std::string& LINE6,
                     const std::string& LINE7, const std::string& LINE8, int TimeOut) {
  return scalelink::acknowledgedWrite(
      TcpClient1, wire::msgRequest(MSGNO, {LINE1, LINE2, LINE3, LINE4, LINE5, LINE6, LINE7, LINE8}), TimeOut);
}

bool TForm1::GetMsg(int& MSGNO, std::string& LINE1, std::string& LINE2, std::string& LINE3,
                    std::string& LINE4, std::string& LINE5, std::string& LINE6, std::string& LINE7,
                    std::string& LINE8, int TimeOut) {
  // The run's whole time-out lets the message arrive.
  unsigned char body[wire::kMsgReplyBody] = {};
  switch (readRecord(TcpClient1, wire::getMsgRequest(MSGNO), TimeOut, body, sizeof body, TimeOut)) {
    case RecordRead::Failed:
      return false;
    case RecordRead::Empty:
      MSGNO = -1;
      return false;
    case RecordRead::Record:
      break;
  }
  const auto lines = wire::decodeMsgReply(body);
  std::string* out[8] = {&LINE1, &LINE2, &LINE3, &LINE4, &LINE5, &LINE6, &LINE7, &LINE8};
  for (int i = 0; i < 8; ++i) *out[i] = lines[std::size_t(i)];
  return true;
}

bool TForm1::DeletePlu(int Number, int TimeOut) {
  return scalelink::acknowledgedWrite(TcpClient1, wire::deleteRequest(DeleteMode, Number), TimeOut);
}
