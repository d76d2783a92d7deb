// Every command against the emulated scale: request bytes, results, and what
// time-outs, empty cells, wrong status bytes, short, split and late replies
// and a closed connection do to them.
#include <chrono>
#include <functional>
#include <thread>

#include "link/scale_link.h"
#include "link_fixture.h"
#include "platform/intconv.h"
#include "platform/tcp_client.h"

using Fault = ScaleEmulator::Fault;

namespace {

const std::string kName1 = "\xCC\xEE\xEB\xEE\xEA\xEE" + std::string(23, ' ');  // "Молоко", as the driver fills
const std::string kName2 = std::string(28, 'B');

struct GoodsOut {
  int PLUNO = 0, PRICE = 0, TARE = 0, ICODE = 0, GCODE = 0, MSGNO = 0, LOGOTYPE = 0, COUNTER = 0;
  uint32_t SUMM = 0, WEIGHT = 0;
  std::string NAME1, NAME2, LIFE, RST, StartDate, StartTime;
};

}  // namespace

class CommandTest : public LinkTest {
 protected:
  bool getPlu(int cell, GoodsOut& o) {
    o.PLUNO = cell;
    return form->GetPlu(o.PLUNO, o.NAME1, o.NAME2, o.PRICE, o.LIFE, o.TARE, o.ICODE, o.GCODE, o.MSGNO, o.LOGOTYPE,
                        o.RST, o.StartDate, o.StartTime, o.SUMM, o.WEIGHT, o.COUNTER, timeOut);
  }
  bool sendPlu(int cell, const std::string& life = "120", int logo = 0) {
    return form->SendPlu(cell, kName1, kName2, 1999, life, 15, 654321, 12, logo, "AB12", 300, timeOut);
  }
  std::array<std::string, 8> lines;
  bool getMsg(int& no) {
    return form->GetMsg(no, lines[0], lines[1], lines[2], lines[3], lines[4], lines[5], lines[6], lines[7],
                        timeOut);
  }
  // Faults the next exchange of `command` and runs a fresh handshake first.
  void fault(int command, Fault f) {
    scale.inject(command, f);
    ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  }
};

TEST_F(CommandTest, GoodsRecordGoesOutWholeAndComesBack) {
  ready();
  ASSERT_TRUE(sendPlu(5, "15.06.26", 2));
  const auto sent = scale.requestsOf(0x82);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], wire::pluRequest(5, kName1, kName2, 1999, "15.06.26", 15, 654321, 12, 2, "AB12", 300));
  ASSERT_EQ(scale.requests().size(), 2u);  // the handshake and the record, nothing else

  scale.setPlu(5, *scale.plu(5), bytesOf({0x15, 0x30, 0x09, 0x05, 0x03, 0x26, 0xA0, 0x86, 0x01, 0x00, 0x10,
                                          0x27, 0, 0, 3, 0, 0}));
  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  GoodsOut o;
  ASSERT_TRUE(getPlu(5, o));
  EXPECT_EQ(scale.requestsOf(0x81).back(), bytesOf({0x81, 5, 0, 0, 0}));
  EXPECT_EQ(clock.pauses.back(), kTimeOut / 3);
  EXPECT_EQ(o.PLUNO, 5);
  EXPECT_EQ(o.NAME1, kName1.substr(0, 24) + "    ");
  EXPECT_EQ(o.NAME2, std::string(24, 'B') + "    ");
  EXPECT_EQ(o.PRICE, 1999);
  EXPECT_EQ(o.LIFE, "15.06.26");
  EXPECT_EQ(o.TARE, 15);
  EXPECT_EQ(o.ICODE, 654321);
  EXPECT_EQ(o.GCODE, 12);
  EXPECT_EQ(o.MSGNO, 300);
  EXPECT_EQ(o.LOGOTYPE, 2);
  EXPECT_EQ(o.RST, "AB12");
  EXPECT_EQ(o.StartTime, "09:30:15");
  EXPECT_EQ(o.StartDate, "05.03.26");
  EXPECT_EQ(o.SUMM, 100000u);
  EXPECT_EQ(o.WEIGHT, 10000u);
  EXPECT_EQ(o.COUNTER, 3);
}

TEST_F(CommandTest, ShelfLifeWithoutAWireFormSendsNothingOfTheRecord) {
  ready();
  EXPECT_THROW(sendPlu(5, "1.2"), intconv::ConvertError);
  EXPECT_THROW(sendPlu(5, ""), intconv::ConvertError);
  EXPECT_TRUE(scale.requestsOf(0x82).empty());
  // The scale still waits for a command: the link is clean.
  ASSERT_TRUE(sendPlu(6));
  EXPECT_EQ(scale.requestsOf(0x82).size(), 1u);
  EXPECT_TRUE(scale.plu(6).has_value());
}

TEST_F(CommandTest, GoodsWriteFailures) {
  ready();
  scale.inject(0x82, {Fault::Silence});
  EXPECT_FALSE(sendPlu(1));
  fault(0x82, {Fault::EmptyCell});
  EXPECT_FALSE(sendPlu(1));
  fault(0x82, {.kind = Fault::Status, .status = 0x00});
  EXPECT_FALSE(sendPlu(1));
  fault(0x82, {.kind = Fault::Late, .delayMs = 3 * kTimeOut});
  EXPECT_FALSE(sendPlu(1));
}

TEST_F(CommandTest, GoodsReadOutcomes) {
  ready();
  GoodsOut o;
  o.NAME1 = "keep";
  o.RST = "x";
  o.LOGOTYPE = 4;
  EXPECT_FALSE(getPlu(9, o));  // empty cell
  EXPECT_EQ(o.PRICE, -1);
  EXPECT_EQ(o.PLUNO, 9);
  EXPECT_EQ(o.NAME1, "keep");
  EXPECT_EQ(o.LOGOTYPE, 0);
  EXPECT_EQ(o.RST, "");

  scale.setPlu(9, wire::pluRequest(9, kName1, kName2, 5, "3", 0, 0, 0, 0, "", 0).substr(1));
  fault(0x81, {Fault::Silence});
  o.PRICE = 77;
  EXPECT_FALSE(getPlu(9, o));  // time-out
  EXPECT_EQ(o.PRICE, 0);
  EXPECT_EQ(o.NAME1, "keep");

  // A status byte other than 0xAA is still a record.
  ASSERT_TRUE(open());
  fault(0x81, {.kind = Fault::Status, .status = 0x00});
  EXPECT_TRUE(getPlu(9, o));
  EXPECT_EQ(o.PRICE, 5);
  EXPECT_EQ(o.LIFE, "3");
}

TEST_F(CommandTest, GoodsReadTakesTheCellNumberOfTheReply) {
  ready();
  scale.setPlu(5, wire::pluRequest(9, kName1, kName2, 5, "3", 0, 0, 0, 0, "", 0).substr(1));
  GoodsOut o;
  ASSERT_TRUE(getPlu(5, o));
  EXPECT_EQ(o.PLUNO, 9);
}

// Every read: a reply whose parts are not all in within the time-out, cut
// short or with its rest late, fails the read and leaves every output as it
// was; a reply split within the time-out is gathered whole.
TEST_F(CommandTest, ReadsFailOnAReplyNotWholeWithinTheTimeOut) {
  const std::string name2(28, 'Z');
  scale.setPlu(3, wire::pluRequest(3, kName1, name2, 5, "3", 0, 0, 0, 0, "", 0).substr(1),
               bytesOf({0x15, 0x30, 0x09, 0x05, 0x03, 0x26, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0}));
  std::string stored(400, '\0');
  stored.replace(0, 3, "abc");
  scale.setMessage(3, stored);
  const std::string logo(512, '\x33');
  scale.setLogo(logo);
  scale.setPriceKey(5, 4000);
  GoodsOut o;
  int no = 0, cell = 0;
  std::string back, factory;
  struct Read {
    int code;
    std::size_t reply;  // status byte included
    std::function<bool()> run, unchanged, whole;
  };
  const Read reads[] = {
      {0x81, 101,
       [&] {
         o = GoodsOut{};
         o.NAME1 = "keep";
         return getPlu(3, o);
       },
       [&] { return o.NAME1 == "keep" && o.PRICE == 0 && o.SUMM == 0; },
       [&] { return o.NAME2 == name2 && o.PRICE == 5 && o.SUMM == 1 && o.WEIGHT == 2 && o.COUNTER == 3; }},
      {0x83, 402,
       [&] {
         no = 3;
         lines.fill("old");
         return getMsg(no);
       },
       [&] { return no == 3 && lines[0] == "old" && lines[7] == "old"; },
       [&] { return lines[0] == "abc" + std::string(47, ' ') && lines[7] == std::string(50, ' '); }},
      {0x97, 513,
       [&] {
         back = "old";
         return form->GetLogo(back, timeOut);
       },
       [&] { return back == "old"; }, [&] { return back == logo; }},
      {0x96, 5,
       [&] {
         cell = -9;
         return form->GetPrSet(5, cell, timeOut);
       },
       [&] { return cell == -9; }, [&] { return cell == 4000; }},
      {0x9B, 14,
       [&] {
         factory = "old";
         return form->GetFactorySet(factory, timeOut);
       },
       [&] { return factory == "old"; }, [&] { return factory.substr(1) == scale.factorySettings(); }},
  };
  for (const Read& r : reads) {
    SCOPED_TRACE(r.code);
    ASSERT_TRUE(open());
    fault(r.code, {.kind = Fault::Split, .length = r.reply / 2, .delayMs = kTimeOut / 3});
    EXPECT_TRUE(r.run());
    EXPECT_TRUE(r.whole());
    for (std::size_t length : {std::size_t(1), r.reply - 1}) {
      fault(r.code, {.kind = Fault::Short, .length = length});
      EXPECT_FALSE(r.run());
      EXPECT_TRUE(r.unchanged());
    }
    fault(r.code, {.kind = Fault::Split, .length = r.reply - 1, .delayMs = 2 * kTimeOut});
    EXPECT_FALSE(r.run());
    EXPECT_TRUE(r.unchanged());
    // The scale sends the late rest before it serves the next connection.
    std::this_thread::sleep_for(std::chrono::milliseconds(kTimeOut + 100));
  }
}

TEST_F(CommandTest, MessagesGoOutAndComeBack) {
  ready();
  const std::string cyr = "\xA8\xC6\xDF \xB8\xE6\xFF";
  ASSERT_TRUE(form->SendMsg(1000, cyr, std::string(50, 'b'), std::string(60, 'c'), std::string(49, 'd'), "", "",
                            "", "", timeOut));
  const auto sent = scale.requestsOf(0x84);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(sent[0].size(), 403u);
  EXPECT_EQ(sent[0].substr(0, 3), bytesOf({0x84, 0xE8, 0x03}));
  EXPECT_EQ(sent[0].substr(3, 7), bytesOf({0xF0, 0x86, 0x9F, 0x20, 0xF1, 0xA6, 0xEF}));
  EXPECT_EQ(sent[0].substr(103, 50), std::string(50, 'c'));
  EXPECT_EQ(sent[0].substr(203), std::string(200, ' '));

  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  int no = 1000;
  ASSERT_TRUE(getMsg(no));
  EXPECT_EQ(clock.pauses.back(), kTimeOut);
  EXPECT_EQ(no, 1000);
  EXPECT_EQ(lines[0], cyr + std::string(43, ' '));
  EXPECT_EQ(lines[2], std::string(50, 'c'));
  EXPECT_EQ(lines[3], std::string(49, 'd') + " ");
  EXPECT_EQ(lines[7], std::string(50, ' '));
}

TEST_F(CommandTest, MessageReadOutcomes) {
  ready();
  lines.fill("old");
  int no = 4;
  EXPECT_FALSE(getMsg(no));  // empty
  EXPECT_EQ(no, -1);
  EXPECT_EQ(lines[0], "old");

  std::string stored(400, '\0');
  stored.replace(0, 3, "abc");
  scale.setMessage(4, stored);
  no = 4;
  fault(0x83, {Fault::Silence});
  EXPECT_FALSE(getMsg(no));
  EXPECT_EQ(no, 4);
  EXPECT_EQ(lines[0], "old");
}

TEST_F(CommandTest, DeleteCellOrItsTotals) {
  scale.setPlu(5, std::string(83, 'x'), std::string(17, '\x01'));
  ready();
  form->DeleteMode = 2;
  ASSERT_TRUE(form->DeletePlu(5, timeOut));
  EXPECT_EQ(scale.requestsOf(0x92).back(), bytesOf({0x92, 5, 0, 0, 0}));
  EXPECT_EQ(scale.pluSales(5), std::string(6, '\x01') + std::string(11, '\0'));

  form->DeleteMode = 0;
  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  ASSERT_TRUE(form->DeletePlu(5, timeOut));
  EXPECT_EQ(scale.requestsOf(0x8D).back(), bytesOf({0x8D, 5, 0, 0, 0}));
  EXPECT_FALSE(scale.plu(5).has_value());

  fault(0x8D, {Fault::EmptyCell});
  EXPECT_FALSE(form->DeletePlu(5, timeOut));
  fault(0x8D, {Fault::Silence});
  EXPECT_FALSE(form->DeletePlu(5, timeOut));
}

TEST_F(CommandTest, ScaleThatClosesTheConnectionFailsTheCommand) {
  ready();
  scale.inject(0x86, {Fault::Close});
  EXPECT_FALSE(form->ClearTotal(timeOut));
  int no = 1;
  EXPECT_FALSE(getMsg(no));  // the link stays closed for later commands
}

TEST_F(CommandTest, StateAndTotals) {
  scale.setState(bytesOf({0x81, 0x10, 0x27, 0x39, 0x30, 0, 0, 0x10, 0, 0, 0, 0xA0, 0x0F, 0, 0}));
  std::string totals(40, '\0');
  totals.replace(15, 4, bytesOf({0x10, 0x27, 0, 0}));
  totals.replace(30, 6, bytesOf({0x15, 0x30, 0x09, 0x05, 0x03, 0x26}));
  totals.replace(36, 4, bytesOf({0xA0, 0x0F, 0xE8, 0x03}));
  scale.setTotals(totals);
  ready();
  int flags = -5, weight = 1, price = 1, amount = 1, plu = 1;
  ASSERT_TRUE(form->GetStatus(flags, weight, price, amount, plu, timeOut));
  EXPECT_EQ(flags, 0x81);
  EXPECT_EQ(weight, 10000);
  EXPECT_EQ(price, 12345);
  EXPECT_EQ(amount, 16);
  EXPECT_EQ(plu, 4000);

  flags = -5;
  fault(0x89, {Fault::EmptyCell});
  EXPECT_FALSE(form->GetStatus(flags, weight, price, amount, plu, timeOut));
  EXPECT_EQ(flags, -5);
  EXPECT_EQ(weight + price + amount + plu, 0);

  int t[12];
  for (int& v : t) v = -7;
  auto getTotal = [&] {
    return form->GetTotal(t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11], timeOut);
  };
  fault(0x85, {.kind = Fault::Short, .length = 40});
  EXPECT_FALSE(getTotal());  // a short reply fails and changes nothing
  for (int v : t) EXPECT_EQ(v, -7);
  fault(0x85, {.kind = Fault::Split, .length = 10, .delayMs = kTimeOut / 2});
  ASSERT_TRUE(getTotal());
  EXPECT_EQ(t[4], 10000);
  EXPECT_EQ(t[8], 50326);
  EXPECT_EQ(t[9], 93015);
  EXPECT_EQ(t[10], 4000);
  EXPECT_EQ(t[11], 1000);

  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  ASSERT_TRUE(form->ClearTotal(timeOut));
  EXPECT_EQ(scale.totalsClears(), 1);
  fault(0x86, {.kind = Fault::Status, .status = 0xAB});
  EXPECT_FALSE(form->ClearTotal(timeOut));
}

TEST_F(CommandTest, UserSettingsAndShopName) {
  ready();
  ASSERT_TRUE(form->SendUserSet(7, 1, 2, 5, 0x81, 6000, timeOut));
  EXPECT_EQ(scale.userSettings(), bytesOf({7, 0, 0, 1, 2, 5, 0x81, 0x70, 0x17}));
  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  int v[6] = {};
  ASSERT_TRUE(form->GetUserSet(v[0], v[1], v[2], v[3], v[4], v[5], timeOut));
  EXPECT_EQ(std::vector<int>(v, v + 6), (std::vector<int>{7, 1, 2, 5, 0x81, 6000}));
  fault(0x95, {Fault::Silence});
  v[0] = -3;
  EXPECT_FALSE(form->GetUserSet(v[0], v[1], v[2], v[3], v[4], v[5], timeOut));
  EXPECT_EQ(v[0], -3);

  ASSERT_TRUE(open());
  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  const std::string line1 = "\xA8" + std::string(28, '\0');  // "Ё", padded as the page pads
  ASSERT_TRUE(form->SendShop(timeOut, line1, std::string(29, 'q')));
  EXPECT_EQ(scale.requestsOf(0x94).back().size(), 57u);
  EXPECT_EQ(scale.shopName(), "\xF0" + std::string(27, '\0') + std::string(28, 'q'));
  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  std::string l1 = "old", l2 = "old";
  ASSERT_TRUE(form->GetShop(timeOut, l1, l2));
  EXPECT_EQ(l1, "\xA8" + std::string(27, ' '));
  EXPECT_EQ(l2, std::string(28, 'q'));
  fault(0x98, {.kind = Fault::Status, .status = 0xEE});
  l1 = "old";
  EXPECT_FALSE(form->GetShop(timeOut, l1, l2));
  EXPECT_EQ(l1, "old");
}

TEST_F(CommandTest, PriceKeyDateAndTime) {
  ready();
  ASSERT_TRUE(form->SendPrSet(4000, 54, timeOut));
  EXPECT_EQ(scale.requestsOf(0x8B).back(), bytesOf({0x8B, 0xA0, 0x0F, 0x00, 0x00, 0x36}));
  EXPECT_EQ(scale.priceKey(54), 4000);
  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  ASSERT_TRUE(form->SendDate(5, 3, 2026, timeOut));
  EXPECT_EQ(scale.lastDate(), bytesOf({0, 5, 0, 3, 202, 6}));
  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  ASSERT_TRUE(form->SendTime(9, 30, 15, timeOut));
  EXPECT_EQ(scale.lastTime(), bytesOf({0, 9, 3, 0, 1, 5}));
  fault(0x9A, {.kind = Fault::Late, .delayMs = 3 * kTimeOut});
  EXPECT_FALSE(form->SendTime(9, 30, 15, timeOut));
}

TEST_F(CommandTest, LogoPriceKeyReadAndFactorySettings) {
  std::string logo(512, '\0');
  for (std::size_t i = 0; i < logo.size(); ++i) logo[i] = char(i * 7);
  ready();
  ASSERT_TRUE(form->SendLogo(logo, timeOut));
  EXPECT_EQ(scale.requestsOf(0x8C).back(), "\x8C" + logo);
  EXPECT_EQ(scale.logo(), logo);
  fault(0x8C, {Fault::EmptyCell});
  EXPECT_FALSE(form->SendLogo(logo, timeOut));

  // The read's status byte is not examined; its pause is 900 ms.
  fault(0x97, {.kind = Fault::Status, .status = 0x00});
  std::string back;
  ASSERT_TRUE(form->GetLogo(back, timeOut));
  EXPECT_EQ(back, logo);
  EXPECT_EQ(clock.pauses.back(), 900);
  fault(0x97, {Fault::Silence});
  back = "same";
  EXPECT_FALSE(form->GetLogo(back, timeOut));
  EXPECT_EQ(back, "same");

  ASSERT_TRUE(open());
  scale.setPriceKey(3, -1);
  ASSERT_EQ(handshake(20), TForm1::HandshakeResult::Accepted);
  int cell = 0;
  ASSERT_TRUE(form->GetPrSet(3, cell, timeOut));
  EXPECT_EQ(scale.requestsOf(0x96).back(), bytesOf({0x96, 3}));
  EXPECT_EQ(cell, -1);
  EXPECT_EQ(clock.pauses.back(), 50);

  ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
  std::string reply;
  ASSERT_TRUE(form->GetFactorySet(reply, timeOut));
  ASSERT_EQ(reply.size(), 14u);
  EXPECT_EQ(reply.substr(1), scale.factorySettings());
  fault(0x9B, {Fault::Silence});
  EXPECT_FALSE(form->GetFactorySet(reply, timeOut));
}

TEST_F(CommandTest, OneSendPerBytePutsTheSameBytesOnTheWire) {
  ready();
  scalelink::setOneSendPerByte(true);
  const bool ok = sendPlu(8);
  scalelink::setOneSendPerByte(false);
  ASSERT_TRUE(ok);
  EXPECT_EQ(scale.requestsOf(0x82).back(),
            wire::pluRequest(8, kName1, kName2, 1999, "120", 15, 654321, 12, 0, "AB12", 300));
}

// Every command whose reply must begin with Ack: silence, EmptyCell, another
// first byte, a reply cut short and a closed connection all fail it; a reply
// that comes in two parts is gathered.
TEST_F(CommandTest, EveryAcknowledgedCommandFailsOnEveryFault) {
  form->Edit32->setText(QStringLiteral("150"));
  int v[12] = {};
  std::string l1, l2;
  const std::string shopLine(29, 's');
  struct Cmd {
    int code;
    std::size_t replyLength;
    std::function<bool()> run;
  };
  const std::vector<Cmd> cmds = {
      {0x82, 1, [&] { return sendPlu(1); }},
      {0x84, 1, [&] { return form->SendMsg(1, "a", "", "", "", "", "", "", "", timeOut); }},
      {0x8D, 1,
       [&] {
         form->DeleteMode = 0;
         return form->DeletePlu(1, timeOut);
       }},
      {0x92, 1,
       [&] {
         form->DeleteMode = 2;
         return form->DeletePlu(1, timeOut);
       }},
      {0x89, 16, [&] { return form->GetStatus(v[0], v[1], v[2], v[3], v[4], timeOut); }},
      {0x85, 41,
       [&] {
         return form->GetTotal(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11],
                               timeOut);
       }},
      {0x86, 1, [&] { return form->ClearTotal(timeOut); }},
      {0x95, 10, [&] { return form->GetUserSet(v[0], v[1], v[2], v[3], v[4], v[5], timeOut); }},
      {0x8A, 1, [&] { return form->SendUserSet(7, 1, 2, 5, 0, 100, timeOut); }},
      {0x98, 57, [&] { return form->GetShop(timeOut, l1, l2); }},
      {0x94, 1, [&] { return form->SendShop(timeOut, shopLine, shopLine); }},
      {0x8B, 1, [&] { return form->SendPrSet(12, 3, timeOut); }},
      {0x99, 1, [&] { return form->SendDate(5, 3, 26, timeOut); }},
      {0x9A, 1, [&] { return form->SendTime(9, 30, 15, timeOut); }},
      {0x8C, 1, [&] { return form->SendLogo(std::string(512, 'L'), timeOut); }},
  };
  for (const Cmd& c : cmds) {
    SCOPED_TRACE(c.code);
    ASSERT_TRUE(open());
    ASSERT_EQ(handshake(), TForm1::HandshakeResult::Accepted);
    EXPECT_TRUE(c.run());
    fault(c.code, {Fault::Silence});
    EXPECT_FALSE(c.run());
    fault(c.code, {Fault::EmptyCell});
    EXPECT_FALSE(c.run());
    fault(c.code, {.kind = Fault::Status, .status = 0x00});
    EXPECT_FALSE(c.run());
    fault(c.code, {.kind = Fault::Split, .length = 1, .delayMs = 50});
    EXPECT_TRUE(c.run());
    if (c.replyLength > 1) {
      fault(c.code, {.kind = Fault::Short, .length = c.replyLength - 1});
      EXPECT_FALSE(c.run());
    }
    fault(c.code, {Fault::Close});
    EXPECT_FALSE(c.run());
  }
}

// The reads whose status byte is not examined: any status gives the data.
TEST_F(CommandTest, ReadsWithoutStatusCheckTakeWhatCame) {
  scale.setPriceKey(5, 4000);
  ready();
  int cell = -9;
  fault(0x96, {.kind = Fault::Status, .status = 0xEE});
  ASSERT_TRUE(form->GetPrSet(5, cell, timeOut));
  EXPECT_EQ(cell, 4000);
  fault(0x96, {Fault::Silence});
  cell = -9;
  EXPECT_FALSE(form->GetPrSet(5, cell, timeOut));
  EXPECT_EQ(cell, -9);

  ASSERT_TRUE(open());
  std::string reply = "same";
  fault(0x9B, {Fault::Close});
  EXPECT_FALSE(form->GetFactorySet(reply, timeOut));
  EXPECT_EQ(reply, "same");
}

// The parts of a reply are awaited only until the time-out has passed since
// its one wait began: a status byte that comes late followed by the rest
// much later is a short reply, not one awaited twice over.
TEST_F(CommandTest, ReplyPartsAreBoundedFromTheStartOfTheirWait) {
  ready();
  int t[12];
  for (int& x : t) x = -7;
  // Status after 200 ms, the rest 200 ms later: 400 ms after the wait began
  // with a time-out of 300.
  fault(0x85, {.kind = Fault::Split, .length = 1, .delayMs = 200, .leadMs = 200});
  EXPECT_FALSE(
      form->GetTotal(t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11], timeOut));
  for (int x : t) EXPECT_EQ(x, -7);
}
