#include "bases/report_windows.h"

TForm7::TForm7(QWidget* parent) : QWidget(parent) { setObjectName("Form7"); }
TForm8::TForm8(QWidget* parent) : QWidget(parent) { setObjectName("Form8"); }
