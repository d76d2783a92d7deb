// The page "Логотип": the 64 x 64 logo editor, its file, the import of a
// picture, and writing the logo into a scale and reading it back.
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "link/scale_link.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/guard.h"
#include "settings/logo_raster.h"
#include "settings/settings_pages.h"
#include "shell/image_box.h"
#include "shell/tform1.h"

using settingspages::handshake;
using settingspages::say;

void TForm1::buildLogoPage() {
  QWidget* page = TabSheet7;
  auto* v = new QVBoxLayout(page);

  auto* bar = new QHBoxLayout();
  struct B {
    QToolButton** field;
    const char* name;
    const char* hint;
    QStyle::StandardPixmap icon;
    void (TForm1::*slot)();
  };
  const B buttons[] = {
      {&SpeedButton33, "SpeedButton33", "Создать новый рисунок", QStyle::SP_FileIcon, &TForm1::SpeedButton33Click},
      {&SpeedButton34, "SpeedButton34", "Открыть рисунок логотипа", QStyle::SP_DialogOpenButton,
       &TForm1::SpeedButton34Click},
      {&SpeedButton35, "SpeedButton35", "Сохранить рисунок логотипа", QStyle::SP_DialogSaveButton,
       &TForm1::SpeedButton35Click},
      {&SpeedButton36, "SpeedButton36", "Открыть и конвертировать графический файл", QStyle::SP_DirOpenIcon,
       &TForm1::SpeedButton36Click},
      {&SpeedButton37, "SpeedButton37", "Загрузить логотип в выбранные весы", QStyle::SP_ArrowForward,
       &TForm1::SpeedButton37Click},
      {&SpeedButton38, "SpeedButton38", "Прочитать логотип из выбранных весов", QStyle::SP_ArrowBack,
       &TForm1::SpeedButton38Click},
      {&SpeedButton39, "SpeedButton39", "Помощь", QStyle::SP_MessageBoxQuestion, &TForm1::SpeedButton39Click},
  };
  for (const B& b : buttons) {
    auto* button = new QToolButton(page);
    button->setObjectName(QString::fromLatin1(b.name));
    button->setToolTip(QString::fromUtf8(b.hint));
    button->setStatusTip(button->toolTip());
    button->setIcon(page->style()->standardIcon(b.icon));
    button->setAutoRaise(true);
    connect(button, &QToolButton::clicked, this, b.slot);
    bar->addWidget(button);
    *b.field = button;
  }
  bar->addStretch();
  v->addLayout(bar);

  // A picture in a thin grey frame, so that white shows against the page.
  const auto framed = [page](ImageBox* box) {
    auto* frame = new QFrame(page);
    frame->setFrameStyle(QFrame::Box | QFrame::Plain);
    frame->setLineWidth(1);
    QPalette edge = frame->palette();
    edge.setColor(QPalette::WindowText, edge.color(QPalette::Mid));
    frame->setPalette(edge);
    frame->setFixedSize(box->width() + 2, box->height() + 2);
    box->setParent(frame);
    box->move(1, 1);
    return frame;
  };

  auto* body = new QHBoxLayout();
  v->addLayout(body, 1);

  // The edit field.
  auto* left = new QVBoxLayout();
  left->addWidget(new QLabel(QStringLiteral("Поле редактирования логотипа"), page));
  Image1 = new ImageBox(logo::kFieldSide, logo::kFieldSide, page);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setCursor(Qt::CrossCursor);
  left->addWidget(framed(Image1));
  left->addStretch();
  body->addLayout(left);
  body->addSpacing(12);

  // The preview and the conversion level of an import.
  auto* middle = new QVBoxLayout();
  middle->addWidget(new QLabel(QStringLiteral("Просмотр логотипа"), page));
  Image2 = new ImageBox(logo::kSide, logo::kSide, page);
  Image2->setObjectName(QStringLiteral("Image2"));
  middle->addWidget(framed(Image2));
  middle->addSpacing(24);
  auto* heading = new QLabel(QStringLiteral("Контрастность преобразования цвета"), page);
  QFont bold = heading->font();
  bold.setBold(true);
  heading->setFont(bold);
  heading->setWordWrap(true);
  middle->addWidget(heading);
  TrackBar1 = new QSlider(Qt::Horizontal, page);
  TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
  TrackBar1->setRange(0, 255);
  TrackBar1->setValue(128);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setTickInterval(10);
  connect(TrackBar1, &QSlider::valueChanged, this, &TForm1::TrackBar1Change);
  middle->addWidget(TrackBar1);
  auto* ends = new QHBoxLayout();
  ends->addWidget(new QLabel(QStringLiteral("Темнее"), page));
  ends->addStretch();
  ends->addWidget(new QLabel(QStringLiteral("Светлее"), page));
  middle->addLayout(ends);
  middle->addStretch();
  auto* middleBox = new QWidget(page);
  middleBox->setLayout(middle);
  middle->setContentsMargins(0, 0, 0, 0);
  middleBox->setFixedWidth(190);
  body->addWidget(middleBox);
  body->addStretch();

  // The scale and the two transfer buttons.
  auto* right = new QVBoxLayout();
  right->addWidget(new QLabel(QStringLiteral("Выбор весов"), page));
  ComboBox8 = settingspages::scaleList(page, "ComboBox8");
  ComboBox8->setMinimumWidth(130);
  right->addWidget(ComboBox8);
  Button12 = settingspages::button(page, QStringLiteral("Прочитать"), "Button12");
  Button13 = settingspages::button(page, QStringLiteral("Загрузить"), "Button13");
  right->addWidget(Button12);
  right->addWidget(Button13);
  right->addStretch();
  body->addLayout(right);

  connect(Image1, &ImageBox::mouseReleased, this, &TForm1::Image1MouseUp);
  connect(Button12, &QPushButton::clicked, this, &TForm1::Button12Click);
  connect(Button13, &QPushButton::clicked, this, &TForm1::Button13Click);
}

// ---- The logo and its two pictures ----

uint8_t TForm1::BitToByte(int32_t b7, int32_t b6, int32_t b5, int32_t b4, int32_t b3, int32_t b2, int32_t b1,
                          int32_t b0) {
  return logo::bitToByte(b7, b6, b5, b4, b3, b2, b1, b0);
}

uint32_t TForm1::Monochrom(uint32_t Color, int Level) { return logo::monochrom(Color, Level); }

std::string TForm1::PackLogoRaster() const { return logo::packRaster(Image2->canvas()); }

void TForm1::ShowLogoRaster(const std::string& Raster) {
  logo::showRaster(Raster, Image2->canvas());
  Image2->updateView();
  RedrawLogoEditField();
}

void TForm1::RedrawLogoEditField() {
  const QImage& preview = Image2->canvas();
  {
    QPainter p(&Image1->canvas());
    for (int y = 0; y < logo::kSide; ++y)
      for (int x = 0; x < logo::kSide; ++x)
        p.fillRect(logo::kZoom * x, logo::kZoom * y, logo::kZoom, logo::kZoom, QColor::fromRgb(preview.pixel(x, y)));
  }
  Image1->updateView();
}

bool TForm1::AskSaveLogoChanges() {
  if (!LogoModified) return true;
  switch (dialogs::current().question(QStringLiteral("Рисунок логотипа был изменен. Сохранить изменения?"), true)) {
    case dialogs::Answer::Cancel:
      return false;
    case dialogs::Answer::Yes:
      // A save that does not happen (dialog cancelled, replace refused, a
      // write that fails) ends the asking action too, so the drawing stays.
      return saveLogo();
    default:
      return true;
  }
}

void TForm1::Image1MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, int X, int Y) {
  guarded([&] {
    // A button pressed on the field and released outside it changes nothing.
    if (X < 0 || Y < 0 || X >= logo::kFieldSide || Y >= logo::kFieldSide) return;
    const uint32_t colour = logo::isLight(Image1->canvas().pixel(X, Y)) ? logo::kBlack : logo::kWhite;
    const int x = X / logo::kZoom, y = Y / logo::kZoom;
    Image1->fillRect(logo::kZoom * x, logo::kZoom * y, logo::kZoom * x + logo::kZoom, logo::kZoom * y + logo::kZoom,
                     colour);
    Image2->canvas().setPixel(x, y, logo::rgbOf(colour));
    Image2->updateView();
    LogoModified = true;
  });
}

// New: a blank logo.
void TForm1::SpeedButton33Click() {
  guarded([this] {
    if (!AskSaveLogoChanges()) return;
    Image1->fillRect(0, 0, logo::kFieldSide, logo::kFieldSide, logo::kWhite);
    Image2->fillRect(0, 0, logo::kSide, logo::kSide, logo::kWhite);
    LogoModified = false;
  });
}

// Open a logo file.
void TForm1::SpeedButton34Click() {
  guarded([this] {
    if (!AskSaveLogoChanges()) return;
    dialogs::FileRequest req;
    req.title = QStringLiteral("Открытие файла логотипа");
    req.filter = QStringLiteral("рисунки (*.kmi)|*.kmi");
    const auto name = dialogs::current().openFile(req);
    if (!name) return;
    switch (logo::checkLogoFile(*name)) {
      case logo::FileCheck::Missing:
        dialogs::message(QStringLiteral("Ошибка открытия файла ") + *name);
        return;
      case logo::FileCheck::WrongSize:
        say("Формат выбранного файла не соответствует нужному формату.");
        return;
      case logo::FileCheck::Ok:
        break;
    }
    ShowLogoRaster(logo::readLogoFile(*name));
    LogoModified = false;
  });
}

bool TForm1::saveLogo() {
  dialogs::FileRequest req;
  req.title = QStringLiteral("Сохранение логотипа");
  req.filter = QStringLiteral("рисунки (*.kmi)|*.kmi");
  req.fileName = SaveDialog2FileName;
  const auto name = dialogs::current().saveFile(req);
  if (!name || !dialogs::confirmReplace(*name, false)) return false;
  SaveDialog2FileName = *name;
  // The flag is cleared only once the whole file is in place: a failed save
  // leaves the drawing marked as unsaved.
  logo::writeLogoFile(*name, PackLogoRaster());
  LogoModified = false;
  return true;
}

// Save the logo to a file.
void TForm1::SpeedButton35Click() {
  guarded([this] { saveLogo(); });
}

// Import a picture, converted to black and white at the track bar's level.
void TForm1::SpeedButton36Click() {
  guarded([this] {
    if (!AskSaveLogoChanges()) return;
    dialogs::FileRequest req;
    req.title = QStringLiteral("Открыть");  // the system's own caption of an open dialog
    req.filter = logo::pictureFilter();
    req.picturePreview = true;
    const auto name = dialogs::current().openFile(req);
    if (!name) return;
    LogoModified = true;  // also when the picture does not load
    const QImage picture = logo::importPicture(*name, TrackBar1->value());
    {
      QPainter p(&Image2->canvas());
      p.drawImage(0, 0, picture);
    }
    Image2->updateView();
    clock_::processEvents();
    RedrawLogoEditField();
  });
}

void TForm1::TrackBar1Change() { TrackBar1->setToolTip(QString::number(TrackBar1->value())); }

// ---- Writing and reading a scale's logo ----

// Write the logo into the chosen scale.
void TForm1::Button13Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    std::string raster;
    int row = -1, timeOut = 0;
    // The raster is taken from the preview before the scale is contacted.
    const auto pack = [&](int) {
      raster = PackLogoRaster();
      return true;
    };
    if (!OpenScaleLink(ComboBox8->currentText(), QStringLiteral("Для записи логотипа"), row, timeOut, pack)) return;
    if (!handshake(*this, row, timeOut, 50)) return;
    if (SendLogo(raster, timeOut))
      say("Логотип загружен");
    else
      say(settingspages::kTransferFailed);
  });
}

// Read the chosen scale's logo into the editor.
void TForm1::Button12Click() {
  guarded([this] {
    scalelink::BusyGuard busy(*this);
    if (busy.refused()) return;
    TcpClient1.Close();
    if (!AskSaveLogoChanges()) return;
    int row = -1, timeOut = 0;
    if (!OpenScaleLink(ComboBox8->currentText(), QStringLiteral("Для чтения логотипа"), row, timeOut)) return;
    if (!handshake(*this, row, timeOut, 50)) return;
    std::string raster;
    if (!GetLogo(raster, timeOut)) {
      say(settingspages::kTransferFailed);
      return;
    }
    ShowLogoRaster(raster);
    LogoModified = true;
    say("Логотип прочитан.");
  });
}

void TForm1::SpeedButton37Click() { Button13Click(); }

void TForm1::SpeedButton38Click() { Button12Click(); }
