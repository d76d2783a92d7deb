#pragma once
// The goods and messages layouts the program creates, for the table tests
// and the benchmark.
#include <string>

#include "storage/table.h"

namespace tablesupport {

using namespace storage;

inline void defineGoods(Table& t, int start = 17) {
  auto& f = t.fieldDefs();
  f.clear();
  f.push_back({"NO", FieldType::AutoInc, 0, false});
  f.push_back({"PLUNO", FieldType::Integer, 0, true});
  f.push_back({"NAME1", FieldType::String, 28, false});
  f.push_back({"NAME2", FieldType::String, 28, false});
  f.push_back({"PRICE", FieldType::Integer, 0, false});
  f.push_back({"LIFE", FieldType::String, 8, false});
  f.push_back({"TARE", FieldType::Integer, 0, false});
  f.push_back({"ICODE", FieldType::Integer, 0, false});
  f.push_back({"GCODE", FieldType::Integer, 0, false});
  f.push_back({"MSGNO", FieldType::Integer, 0, false});
  f.push_back({"LOGOTYPE", FieldType::Integer, 0, false});
  f.push_back({"RST", FieldType::String, 4, false});
  f.push_back({"START", FieldType::String, start, false});
  f.push_back({"COUNTER", FieldType::Integer, 0, false});
  f.push_back({"SUMM", FieldType::String, 10, false});
  f.push_back({"WEIGHT", FieldType::String, 10, false});
  auto& x = t.indexDefs();
  x.clear();
  x.push_back({"", "NO", ixPrimary});
  x.push_back({"indPLUNO", "PLUNO", ixCaseInsensitive});
  x.push_back({"indNAME1", "NAME1;NAME2", ixCaseInsensitive});
  x.push_back({"indPRICE", "PRICE", ixCaseInsensitive});
  x.push_back({"indICODE", "ICODE", ixCaseInsensitive});
  x.push_back({"indMSGNO", "MSGNO", ixCaseInsensitive});
  x.push_back({"indCOUNTER", "COUNTER", ixCaseInsensitive});
}

inline void defineMessages(Table& t) {
  auto& f = t.fieldDefs();
  f.clear();
  f.push_back({"NO", FieldType::AutoInc, 0, false});
  f.push_back({"MSGNO", FieldType::Integer, 0, true});
  for (int i = 1; i <= 8; ++i) f.push_back({"LINE" + std::to_string(i), FieldType::String, 50, false});
  auto& x = t.indexDefs();
  x.clear();
  x.push_back({"", "NO", ixPrimary});
  x.push_back({"indMSGNO", "MSGNO", ixCaseInsensitive});
}

}  // namespace tablesupport
