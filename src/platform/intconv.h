#pragma once
// The one text-to-integer conversion of the program: optional leading blanks,
// then a signed decimal in the 32-bit range, or a hexadecimal of at most eight
// digits introduced by "$", "x", "X", "0x" or "0X" taken as 32-bit two's
// complement. Nothing may follow the digits.
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace intconv {

// The value, or nothing when the text does not convert.
std::optional<int> tryParse(std::string_view text);

// The value; throws ConvertError with notIntegerText(text) when the text
// does not convert.
int parse(std::string_view text);

// "«<text>» — не целое число": the message of a failed conversion, in UTF-8
// with the Windows-1251 text converted, as the error box reads it.
std::string notIntegerText(std::string_view text);

class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace intconv
