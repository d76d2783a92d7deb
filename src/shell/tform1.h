#pragma once
// The main window. It owns every component of the window for the whole run;
// its handlers are slots named after their controls and events, and its
// member functions are defined in the folder of the subsystem they belong to.
#include <QFont>
#include <QMainWindow>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/icmp.h"
#include "platform/tcp_client.h"
#include "storage/table.h"

namespace storage {
class TableModel;
class DbNavigator;
}  // namespace storage

class QAction;
class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class QTableView;
class QTimer;
class QToolBar;
class QToolButton;
class StringGrid;
class ImageBox;

class TForm1 : public QMainWindow {
  Q_OBJECT
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- Shell: start-up, shut-down, settings files, configuration table ----
  QString StartDir;          // the working directory at start
  bool LogoModified = false;  // the logo editor's changed flag
  unsigned char TransferCancelled = 0;  // set by the Stop buttons
  bool ScaleBusy = false;     // a scale operation or long table loop runs
  // True while a close waits for the running operation to end.
  bool closeWaitsForRun() const;
  // A close asked for while an operation runs: the operation is stopped as
  // Stop stops it and the window closes once it has ended. False when
  // nothing runs.
  bool takeCloseDuringRun();

  void FormCreate();
  void FormCloseQuery(bool& CanClose);
  void FormDestroy();
  void TotalOpen();
  void TotalSave();
  // The settings files that start-up read (a missing one is created and
  // read). The close writes only these: a file that was there but could not
  // be read keeps its contents.
  struct {
    bool config = false, poles = false, total = false;
  } settingsRead;

  int NumberColFrom(const std::string& Name) const;
  bool RightIP(const std::string& IP) const;
  bool RightCfg1(int Row) const;
  int RightCfg() const;

  // The configuration table's data rows, and replacing them (at least one).
  std::vector<std::array<std::string, 9>> configRows() const;
  void setConfigRows(const std::vector<std::array<std::string, 9>>& rows);
  // poles.cfg's bytes from the field-compatibility table (46 lines).
  std::string polesFileBytes() const;

  // OpenDialog1 (shared by the configuration page and the open entry): the
  // chosen full path, or nothing when cancelled. It starts in
  // OpenDialog1InitialDir, which the open entry sets and which is kept.
  std::optional<QString> runOpenDialog1();
  QString OpenDialog1InitialDir;
  // FontDialog1: opens with the font last chosen in it.
  std::optional<QFont> runFontDialog1();

  // The keyword help of the program.
  void HelpKeyword(const QString& keyword);
  // Shows the entries that a running operation refuses as disabled (or
  // enables them again at its end); the scale lists take no input meanwhile.
  void ShowBusy(bool busy);
  // Set while a load, a read, the base check or a renumbering walks Table1's
  // current record: nothing the operator does may move or change the table
  // meanwhile.
  bool TableWalking = false;
  // Takes the grid, the navigator, the logo choice and the save entry out of
  // the operator's reach for a walk (the grid keeps showing the walk's
  // record), or gives them back.
  void ShowTableWalk(bool walking);

  // ---- Field-compatibility table ----
  std::string Ass(const std::string& logicalName) const;

  // ---- Scale link and protocol ----
  // The link to one scale: the one TCP client, the ICMP echo client and the
  // addresses that answered the last ping (filled by IdIcmpClient1Reply).
  TcpClient TcpClient1;
  icmp::IcmpClient IdIcmpClient1{[this](icmp::IcmpClient* sender, const icmp::ReplyStatus& status) {
    IdIcmpClient1Reply(sender, status);
  }};
  std::vector<std::string> PingReplies;
  // Which kind of delete DeletePlu performs: 0 PLU cells, 2 per-PLU totals
  // (set by the delete menu entry and the zero-totals tool button).
  int DeleteMode = 0;

  enum class HandshakeResult { Accepted, NoData, WrongReply };

  // The opening of every scale operation: closes the previous connection,
  // takes ComPortTimeOut from Edit32, finds and checks the scale's row, runs
  // the caller's own check (when given; false ends the operation, which then
  // shows its own message, if any), pings and connects. Each failure shows its
  // message and returns false. Words begin the message for an unknown name.
  bool OpenScaleLink(const QString& Selector, const QString& Words, int& Row, int& ComPortTimeOut,
                     const std::function<bool(int Row)>& OwnCheck = {});
  // Sends the row's scale number and expects it back followed by 0x80; Pause
  // (ms) lies between the two answer bytes.
  HandshakeResult ScaleSelectHandshake(int Row, int TimeOut, int Pause);
  void IdIcmpClient1Reply(icmp::IcmpClient* Sender, const icmp::ReplyStatus& ReplyStatus);

  // The command functions: one exchange each on the open connection, right
  // after an accepted handshake. They show nothing and never close the link.
  bool SendPlu(int PLUNO, const std::string& NAME1, const std::string& NAME2, int PRICE,
               const std::string& LIFE, int TARE, int ICODE, int GCODE, int LOGOTYPE, const std::string& RST,
               int MSGNO, int TimeOut);
  bool GetPlu(int& PLUNO, std::string& NAME1, std::string& NAME2, int& PRICE, std::string& LIFE, int& TARE,
              int& ICODE, int& GCODE, int& MSGNO, int& LOGOTYPE, std::string& RST, std::string& StartDate,
              std::string& StartTime, uint32_t& SUMM, uint32_t& WEIGHT, int& COUNTER, int TimeOut);
  bool SendMsg(int MSGNO, const std::string& LINE1, const std::string& LINE2, const std::string& LINE3,
               const std::string& LINE4, const std::string& LINE5, const std::string& LINE6,
               const std::string& LINE7, const std::string& LINE8, int TimeOut);
  bool GetMsg(int& MSGNO, std::string& LINE1, std::string& LINE2, std::string& LINE3, std::string& LINE4,
              std::string& LINE5, std::string& LINE6, std::string& LINE7, std::string& LINE8, int TimeOut);
  bool DeletePlu(int Number, int TimeOut);
  bool GetStatus(int& Flags, int& Weight, int& Price, int& Amount, int& Plu, int TimeOut);
  bool GetTotal(int& TapeRun, int& Labels, int& GrandSum, int& Sales, int& GrandWeight, int& ValueA,
                int& ValueB, int& ValueC, int& ClearDate, int& ClearTime, int& FreePlu, int& FreeMsg,
                int TimeOut);
  bool ClearTotal(int TimeOut);
  bool GetUserSet(int& Department, int& LabelFormat, int& BarcodeFormat, int& PrintOffset, int& Flags,
                  int& MinWeight, int TimeOut);
  bool SendUserSet(int Department, int LabelFormat, int BarcodeFormat, int PrintOffset, int Flags,
                   int MinWeight, int TimeOut);
  bool GetShop(int TimeOut, std::string& Line1, std::string& Line2);
  bool SendShop(int TimeOut, const std::string& Line1, const std::string& Line2);
  bool SendPrSet(int Cell, int Key, int TimeOut);
  bool SendDate(int Day, int Month, int Year, int TimeOut);
  bool SendTime(int Hour, int Minute, int Second, int TimeOut);
  // The logo, price-key and factory-settings exchanges. Raster: 512 bytes
  // (LogoRaster); Reply: the 14 bytes of the factory settings reply, decoded
  // by wire::decodeFactorySet.
  bool SendLogo(const std::string& Raster, int TimeOut);
  bool GetLogo(std::string& Raster, int TimeOut);
  bool GetPrSet(int Key, int& Cell, int TimeOut);
  bool GetFactorySet(std::string& Reply, int TimeOut);

  // Network test page: the addresses of the configuration table that answer
  // the ping with the time-out t, and the lines "address   name" of the
  // hosts prefix + 1 .. prefix + 255 that answer it.
  std::vector<std::string> Search1(int t);
  std::vector<std::string> Search(const std::string& prefix, int t);

  // ---- Goods and messages bases ----
  // The one table component: the open goods or messages base.
  storage::Table Table1;
  // The grid's model over Table1 and the navigator (both owned by the window
  // and released before Table1, see basesViews_).
  storage::TableModel* DataSource1 = nullptr;
  storage::DbNavigator* DBNavigator1 = nullptr;
  // Declared after Table1, so destroyed before it: deletes the model and the
  // navigator while the table they watch still exists.
  struct ViewsRelease {
    std::function<void()> run;
    ~ViewsRelease() {
      if (run) run();
    }
  } basesViews_;
  QString SaveDialog1FileName = QStringLiteral("db1");  // the last chosen name

  // Connects the goods page and the field-compatibility buttons.
  void setupBasesPage();
  // The grid's column widths, fitted to each field and its title when the
  // shown columns change, or always with force (after a font change).
  QString gridColumnsKey_;  // the table and its shown columns when last fitted
  void fitGridColumns(bool force);
  // SaveDialog1: the chosen full name, or nothing when cancelled.
  std::optional<QString> runSaveDialog1();
  // The message before the save dialog, the dialog, and the cancel message:
  // the chosen file name of a new goods (or messages) base, or nothing.
  std::optional<std::string> askNewBaseName(bool goods);
  // The file that a new base of this name would replace when it exists but
  // does not open as a Paradox table; empty when it may be replaced. Throws
  // when another program holds it for writing.
  static std::string replacedFileIfNotATable(const std::string& fileName);
  // Writes what is being typed into a cell of DBGrid1 into its record, so
  // that an entry acting on the table sees it; false when the field refused
  // the text (its error was shown and the entry does nothing).
  bool commitGridEdit();
  // Stores a changed pending record of Table1 before an entry closes the
  // table (an unchanged one is left to the close, which drops it); throws
  // the engine's reason when it cannot be stored, the record staying pending.
  void storeChangedRecord();
  // The creation steps of a new base: the goods table (START startWidth
  // characters wide) or the messages table, every field named through Ass.
  // createTable checks the definitions first (a field map that cannot make a
  // table, or a table there that another program holds, leaves the open
  // table open and nothing moved), then closes Table1, moves a table of that
  // name aside, creates the new one (deleting the moved one only then), clears
  // the field order and opens it; a failure before puts the moved table back
  // and reopens the old base. passEvents lets pending events run after the
  // set-aside and after the creation. Throws on failure.
  void createGoodsTable(const std::string& fileName, int startWidth, bool passEvents);
  void createMessagesTable(const std::string& fileName);
  void createTable(const std::string& fileName, const std::vector<storage::FieldDef>& fields,
                   const std::vector<storage::IndexDef>& indexes, bool passEvents);
  // Shows the reason of the error being handled (call only inside a catch
  // block): why a base was not made or opened.
  static void showCurrentError();
  // Table1 as an entry found it (name, kind, order, open or not, the current
  // record), so that an entry that closed it and then failed opens it again,
  // shown as after opening it, on the same record. A failure to reopen leaves
  // it closed and returns the sentence that says so and why, for the entry to
  // show after its own reason; empty when the base is back.
  struct OpenedBase {
    std::string name, order;
    storage::TableType type;
    bool open;
    int recNo;
  };
  OpenedBase openedBase() const;
  QString reopenBase(const OpenedBase& base);
  // On the open goods table: hides NO and gives each field its display
  // label, LIFE right-aligned; with firstRecord also the values of the first
  // record of a new goods base. Throws at the first field not found.
  void labelGoodsFields(bool firstRecord);
  // The record check: 0, or the code 1..8 of the first value out of limits.
  int TestRow(int plu, int price, const std::string& life, int tare, int icode, int gcode,
              int msgno, int logotype) const;
  // The messages of TestRow's codes 1..8 (empty for any other code).
  static QString testRowMessage(int code);
  // Connects the two print entries of the goods page (called once the report
  // windows exist).
  void setupReports();

  // ---- Base transfers ----
  // Connects the transfer entries of the goods page (called once at start).
  void setupTransfers();
  void LoadPluRange(int low, int high);
  void LoadMsgRange(int low, int high);
  void GetPluRange(int low, int high);
  void GetMsgRange(int low, int high);
  void DeletePluRange(int low, int high);

  // ---- Scale settings and logo ----
  // The eight printing option boxes, bit 0 to bit 7 of the flags byte.
  std::array<QCheckBox*, 8> printFlagBoxes() const;
  // Logo page. The logo is Image2 (64 x 64, the master copy); Image1 shows
  // it five-fold for editing. LogoRaster: 512 bytes, 8 a row from the top,
  // leftmost pixel in bit 7, 1 = dark.
  static uint8_t BitToByte(int32_t b7, int32_t b6, int32_t b5, int32_t b4, int32_t b3, int32_t b2, int32_t b1,
                           int32_t b0);
  static uint32_t Monochrom(uint32_t Color, int Level);  // Color 0x00BBGGRR
  std::string PackLogoRaster() const;
  void ShowLogoRaster(const std::string& Raster);
  void RedrawLogoEditField();
  // The question whether to save a changed logo; false when the operator
  // cancels or the save does not happen (the asking action then ends). A
  // save that fails throws.
  bool AskSaveLogoChanges();
  QString SaveDialog2FileName = QStringLiteral("noname01");  // the last chosen name

 public slots:
  // Shell
  void N2Click();
  void PageControl1Change();
  void SpeedButton2Click();
  void SpeedButton17Click();
  void SpeedButton18Click();
  void SpeedButton20Click();
  void SpeedButton21Click();
  void SpeedButton22Click();
  void SpeedButton23Click();
  void SpeedButton24Click();
  void SpeedButton25Click();
  void SpeedButton26Click();
  void SpeedButton27Click();
  void SpeedButton28Click();
  void SpeedButton29Click();
  void N16Click();
  void N17Click();
  void SpeedButton30Click();
  void SpeedButton31Click();
  void SpeedButton32Click();
  void SpeedButton39Click();
  // Field-compatibility table
  void Button10Click();
  // Scale link and protocol
  void Button18Click();
  void Button19Click();
  void Button20Click();
  void Button21Click();
  void Button24Click();
  void Button25Click();
  // Goods and messages bases
  void N3Click();
  void N4Click();
  void ToolButton2Click();
  void N10Click();
  void N11Click();
  void ToolButton16Click();
  void PLU1Click();
  void MSG1Click();
  void N5Click();
  void N6Click();
  void N7Click();
  void N8Click();
  void Table1AfterInsert();
  void Button22Click();
  void ToolButton8Click();
  void ComboBox1Change();
  void PLU2Click();
  void MSG2Click();
  void Button3Click();
  void N20Click();
  void N21Click();
  // Base transfers
  void N9Click();
  void N19Click();
  void N12Click();
  void N13Click();
  void N14Click();
  void ToolButton13Click();
  // Scale settings and logo
  void Button11Click();
  void Button17Click();
  void Button1Click();
  void Button2Click();
  void Button6Click();
  void Button5Click();
  void Button7Click();
  void Button8Click();
  void Button23Click();
  void Button9Click();
  void Image1MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
  void SpeedButton33Click();
  void SpeedButton34Click();
  void SpeedButton35Click();
  void SpeedButton36Click();
  void SpeedButton37Click();
  void SpeedButton38Click();
  void TrackBar1Change();
  void Button12Click();
  void Button13Click();

 protected:
  void closeEvent(QCloseEvent* event) override;

 public:
  // ---- Components (objectName = member name) ----
  QMenu* N1 = nullptr;
  QAction* N2 = nullptr;
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;
  QWidget* TabSheet2 = nullptr;
  QWidget* TabSheet3 = nullptr;
  QWidget* TabSheet4 = nullptr;
  QWidget* TabSheet5 = nullptr;
  QWidget* TabSheet6 = nullptr;
  QWidget* TabSheet7 = nullptr;
  QTabWidget* PageControl2 = nullptr;
  QWidget* TabSheet10 = nullptr;
  QWidget* TabSheet12 = nullptr;
  QWidget* TabSheet13 = nullptr;
  QWidget* TabSheet14 = nullptr;

  // Goods page
  QToolBar* ToolBar1 = nullptr;
  QToolButton* ToolButton1 = nullptr;
  QToolButton* ToolButton2 = nullptr;
  QToolButton* ToolButton3 = nullptr;
  QToolButton* ToolButton4 = nullptr;
  QToolButton* ToolButton7 = nullptr;
  QToolButton* ToolButton8 = nullptr;
  QToolButton* ToolButton10 = nullptr;
  QToolButton* ToolButton11 = nullptr;
  QToolButton* ToolButton12 = nullptr;
  QToolButton* ToolButton13 = nullptr;
  QToolButton* ToolButton16 = nullptr;
  QToolButton* ToolButton17 = nullptr;
  QAction *N3 = nullptr, *N4 = nullptr, *N10 = nullptr, *N11 = nullptr, *N20 = nullptr,
          *N21 = nullptr, *PLU1 = nullptr, *MSG1 = nullptr, *N5 = nullptr, *N6 = nullptr,
          *N7 = nullptr, *N8 = nullptr, *PLU2 = nullptr, *MSG2 = nullptr, *N9 = nullptr,
          *N19 = nullptr, *N12 = nullptr, *N13 = nullptr, *N14 = nullptr, *N16 = nullptr,
          *N17 = nullptr;
  QWidget* NavigatorPlace = nullptr;  // where the table navigator stands
  QComboBox* ComboBox1 = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QPushButton* Button3 = nullptr;
  QTableView* DBGrid1 = nullptr;
  QProgressBar* ProgressBar3 = nullptr;
  QLabel* Numb = nullptr;
  QCheckBox* CheckBox1 = nullptr;

  // Configuration page
  QToolButton *SpeedButton2 = nullptr, *SpeedButton17 = nullptr, *SpeedButton18 = nullptr,
              *SpeedButton20 = nullptr, *SpeedButton21 = nullptr, *SpeedButton22 = nullptr,
              *SpeedButton23 = nullptr, *SpeedButton24 = nullptr, *SpeedButton25 = nullptr,
              *SpeedButton26 = nullptr, *SpeedButton27 = nullptr, *SpeedButton28 = nullptr,
              *SpeedButton29 = nullptr, *SpeedButton30 = nullptr;
  QLineEdit* Edit32 = nullptr;
  StringGrid* StringGrid1 = nullptr;
  QCheckBox* CheckBox3 = nullptr;

  // Scale settings page
  QComboBox* ComboBox3 = nullptr;
  QComboBox* ComboBox4 = nullptr;
  QComboBox* ComboBox5 = nullptr;
  QToolButton* SpeedButton31 = nullptr;
  QToolButton* SpeedButton32 = nullptr;
  QDateTimeEdit* DateTimePicker1 = nullptr;
  QDateTimeEdit* DateTimePicker2 = nullptr;
  QCheckBox* CheckBox12 = nullptr;
  StringGrid* StringGrid2 = nullptr;
  StringGrid* StringGrid3 = nullptr;
  QPushButton* Button10 = nullptr;
  QPushButton* Button22 = nullptr;
  QCheckBox* CheckBox13 = nullptr;
  QLabel* Label47 = nullptr;

  // Factory settings, state, logo and test pages
  QComboBox* ComboBox6 = nullptr;
  QComboBox* ComboBox7 = nullptr;
  QComboBox* ComboBox8 = nullptr;
  QToolButton *SpeedButton33 = nullptr, *SpeedButton34 = nullptr, *SpeedButton35 = nullptr,
              *SpeedButton36 = nullptr, *SpeedButton37 = nullptr, *SpeedButton38 = nullptr,
              *SpeedButton39 = nullptr;
  ImageBox* Image1 = nullptr;
  ImageBox* Image2 = nullptr;
  QSlider* TrackBar1 = nullptr;
  QPushButton* Button12 = nullptr;
  QPushButton* Button13 = nullptr;
  QLineEdit* Edit30 = nullptr;
  QLineEdit* Edit31 = nullptr;
  QPushButton* Button24 = nullptr;
  QPushButton* Button25 = nullptr;
  // Network test page (besides Edit30, Edit31, Button24 and Button25 above)
  QRadioButton* RadioButton3 = nullptr;
  QRadioButton* RadioButton4 = nullptr;
  QPushButton* Button18 = nullptr;
  QPushButton* Button19 = nullptr;
  QPushButton* Button20 = nullptr;
  QPushButton* Button21 = nullptr;
  QListWidget* ListBox3 = nullptr;
  QListWidget* ListBox4 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;

  // Scale settings pages: state and totals, user settings and shop name,
  // date and time, price keys, factory settings.
  QLineEdit *Edit16 = nullptr, *Edit17 = nullptr, *Edit18 = nullptr, *Edit19 = nullptr, *Edit21 = nullptr,
            *Edit22 = nullptr, *Edit23 = nullptr, *Edit24 = nullptr, *Edit25 = nullptr, *Edit26 = nullptr,
            *Edit27 = nullptr, *Edit28 = nullptr, *Edit29 = nullptr;
  QLabel *Label31 = nullptr, *Label32 = nullptr, *Label33 = nullptr, *Label34 = nullptr, *Label35 = nullptr;
  QPushButton *Button11 = nullptr, *Button17 = nullptr;
  QLineEdit *Edit2 = nullptr, *Edit3 = nullptr, *Edit4 = nullptr, *Edit5 = nullptr, *Edit6 = nullptr;
  QCheckBox *CheckBox4 = nullptr, *CheckBox5 = nullptr, *CheckBox6 = nullptr, *CheckBox7 = nullptr,
            *CheckBox8 = nullptr, *CheckBox9 = nullptr, *CheckBox10 = nullptr, *CheckBox11 = nullptr;
  QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button6 = nullptr, *Button5 = nullptr;
  QPushButton *Button7 = nullptr, *Button8 = nullptr, *Button23 = nullptr, *Button9 = nullptr;
  QLineEdit *Edit7 = nullptr, *Edit8 = nullptr, *Edit9 = nullptr, *Edit10 = nullptr, *Edit11 = nullptr,
            *Edit12 = nullptr, *Edit13 = nullptr, *Edit14 = nullptr, *Edit15 = nullptr;
  QCheckBox* CheckBox18 = nullptr;

  // Help window (created on first use).
  QWidget* HelpWindow = nullptr;

 private:
  void buildLayout();
  void buildGoodsPage();
  void buildConfigPage();
  void buildSettingsPages();
  void buildOtherPages();
  // The scale settings pages, each built in its own file.
  void buildStatePage();
  void buildUserSettingsPage();
  void buildDatePage();
  void buildPriceKeysPage();
  void buildFactoryPage();
  void buildNetTestPage();
  // The scale check of the test page: handshake probe of every row.
  void checkScales(int t);
  void buildLogoPage();
  // The steps of SpeedButton35Click: true when the file was written, false
  // when the operator cancelled the dialog or refused the replace; throws
  // when the write fails.
  bool saveLogo();
  std::optional<QFont> fontDialog1Font_;
  // The scale list that had the keyboard focus when an operation started,
  // and the page that holds the focus for it while the operation runs.
  QComboBox* focusedScaleList_ = nullptr;
  QWidget* scaleListFocusHolder_ = nullptr;
  // Runs while a close waits for the operation it stopped to end, then
  // closes the window.
  QTimer* closeAfterRun_ = nullptr;
};

// Holds TForm1::TableWalking for the life of one walk over Table1.
class TableWalk {
 public:
  explicit TableWalk(TForm1& form) : form_(form), owner_(!form.TableWalking) {
    if (owner_) form_.ShowTableWalk(true);
  }
  ~TableWalk() {
    if (owner_) form_.ShowTableWalk(false);
  }
  TableWalk(const TableWalk&) = delete;
  TableWalk& operator=(const TableWalk&) = delete;

 private:
  TForm1& form_;
  bool owner_;
};

// The main window of the running program.
extern TForm1* Form1;

// Where start-up takes the PC's own IPv4 address from; tests replace it.
extern QString (*LocalHostAddress)();
