#include "transfers/range_dialogs.h"

TForm2::TForm2(QWidget* parent) : QDialog(parent) { setObjectName("Form2"); }
TForm3::TForm3(QWidget* parent) : QDialog(parent) { setObjectName("Form3"); }
TForm4::TForm4(QWidget* parent) : QDialog(parent) { setObjectName("Form4"); }
TForm5::TForm5(QWidget* parent) : QDialog(parent) { setObjectName("Form5"); }
TForm6::TForm6(QWidget* parent) : QDialog(parent) { setObjectName("Form6"); }
