#pragma once
// Program entry: creates the main window (whose construction runs the
// start-up sequence) and then, hidden, the range dialogs and report windows.
class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class TForm8;

extern TForm2* Form2;
extern TForm3* Form3;
extern TForm4* Form4;
extern TForm5* Form5;
extern TForm6* Form6;
extern TForm7* Form7;
extern TForm8* Form8;

// Creates Form1 .. Form8 in order; returns Form1.
TForm1* createForms();
// Destroys them again (tests start the program afresh in each case).
void destroyForms();
