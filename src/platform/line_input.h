#pragma once
// The one rule for what the operator types or pastes into a single-line
// field or a grid cell: a pasted (or dropped) text counts up to its first
// line end, as a spreadsheet's cell gives it, and loses its other control
// characters; a character that Windows-1251 cannot hold is refused with a
// message naming it, the field keeping the text it had; and the field takes
// no more characters than its value holds. Texts the program itself puts
// into the field are left as they are.
class QLineEdit;

namespace lineinput {

// Puts the rule on the edit; maxChars 0 leaves its length free.
void apply(QLineEdit* edit, int maxChars = 0);

}  // namespace lineinput
