// The window as the operator first sees it, and how it behaves when resized.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <QValidator>

#include "WindowFixture.h"
#include "app/Gauge.h"
#include "app/PictureButton.h"

namespace patrimonio::test {

namespace {

// A label that takes the width of its text: its place and height are fixed, its width is at
// least what its text needs (the laid-out width assumes the original fonts).
constexpr bool kFitsText = true;

struct ControlRow {
    const char* name;
    const char* kind;
    QRect geometry;
    const char* text;  // caption, title or edit text
    const char* placeholder;
    bool enabled;
    const char* fontFamily;  // empty: the window's font
    int fontPixels;
    bool bold;
    bool fitsText = false;
};

const ControlRow kControls[] = {
    {"GroupBox1", "QGroupBox", {8, 8, 453, 229}, "Imagem antes de tratar", "", true, "", 0, false},
    {"ImgAntes", "QLabel", {2, 15, 449, 212}, "", "", true, "", 0, false},
    {"Label4",
     "QLabel",
     {520, 8, 33, 16},
     "Height",
     "",
     true,
     "Trebuchet MS",
     11,
     false,
     kFitsText},
    {"Label5", "QLabel", {600, 8, 30, 16}, "Width", "", true, "Trebuchet MS", 11, false, kFitsText},
    {"Label1",
     "QLabel",
     {759, 8, 58, 16},
     "Quantidade",
     "",
     true,
     "Trebuchet MS",
     11,
     false,
     kFitsText},
    {"Label3",
     "QLabel",
     {829, 8, 70, 16},
     "% Compressão",
     "",
     true,
     "Trebuchet MS",
     11,
     false,
     kFitsText},
    {"EdtH", "QLineEdit", {520, 24, 63, 21}, "800", "", false, "", 0, false},
    {"EdtW", "QLineEdit", {600, 24, 63, 21}, "600", "", false, "", 0, false},
    {"Edit1", "QLineEdit", {759, 24, 63, 21}, "1", "", false, "", 0, false},
    {"Edit3", "QLineEdit", {829, 24, 97, 21}, "60", "", true, "", 0, false},
    {"BitBtn1",
     "patrimonio::PictureButton",
     {520, 51, 407, 275},
     "Executar atualização das informações incluindo fotos",
     "",
     true,
     "Trebuchet MS",
     21,
     true},
    {"Label6",
     "QLabel",
     {8, 235, 184, 20},
     "Banco com as informações.",
     "",
     true,
     "Trebuchet MS",
     15,
     false,
     kFitsText},
    {"Edit4", "QLineEdit", {8, 256, 428, 21}, "", "---Source", true, "", 0, false},
    {"SpeedButton1", "QToolButton", {438, 255, 23, 22}, "", "", true, "", 0, false},
    {"Label2",
     "QLabel",
     {8, 281, 156, 20},
     "Banco a ser atualizado.",
     "",
     true,
     "Trebuchet MS",
     15,
     false,
     kFitsText},
    {"Edit2", "QLineEdit", {8, 302, 428, 21}, "", "---Target", true, "", 0, false},
    {"SpeedButton2", "QToolButton", {438, 301, 23, 22}, "", "", true, "", 0, false},
    {"Ck_Apenas_Tratar_Imagem",
     "QCheckBox",
     {8, 331, 428, 19},
     "Apenas tratar o tamanho das imagens...",
     "",
     true,
     "Trebuchet MS",
     16,
     false},
    {"Panel1", "QFrame", {520, 332, 407, 107}, "", "", true, "", 0, false},
    {"LblStatus", "QLabel", {1, 1, 401, 101}, "Aguardando...", "", true, "Trebuchet MS", 29, true},
    {"Label7",
     "QLabel",
     {8, 357, 253, 20},
     "Código dos bens a serem ignorados...",
     "",
     true,
     "Trebuchet MS",
     15,
     false,
     kFitsText},
    {"EdtBensIgnorados", "QLineEdit", {8, 378, 428, 21}, "", "9,30,105,1010", true, "", 0, false},
    {"Gauge1", "patrimonio::Gauge", {8, 405, 378, 37}, "", "", true, "", 0, false},
    {"LblWork",
     "QLabel",
     {388, 410, 73, 27},
     "Waiting",
     "",
     true,
     "Trebuchet MS",
     21,
     true,
     kFitsText},
    {"MemoLOG", "QTextEdit", {0, 445, 935, 89}, "", "", true, "Tahoma", 11, false},
    {"BtnLOG", "QPushButton", {808, 507, 124, 25}, "Salvar Log", "", false, "", 0, false},
};

QString textOf(const QWidget* w) {
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    if (auto* t = qobject_cast<const QTextEdit*>(w)) return t->toPlainText();
    return {};
}

}  // namespace

using WindowLayout = WindowFixture;

TEST_F(WindowLayout, EveryControlStartsAsLaidOut) {
    for (const ControlRow& row : kControls) {
        SCOPED_TRACE(row.name);
        const auto* w = window->findChild<QWidget*>(QString::fromLatin1(row.name));
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->inherits(row.kind)) << w->metaObject()->className();
        const QRect g = w->geometry();
        if (row.fitsText) {
            EXPECT_EQ(g.topLeft(), row.geometry.topLeft());
            EXPECT_EQ(g.height(), row.geometry.height());
            EXPECT_GE(g.width(), w->fontMetrics().horizontalAdvance(textOf(w)));
        } else {
            EXPECT_EQ(g, row.geometry);
        }
        EXPECT_EQ(textOf(w), QString::fromUtf8(row.text));
        if (auto* e = qobject_cast<const QLineEdit*>(w)) {
            EXPECT_EQ(e->placeholderText(), QString::fromUtf8(row.placeholder));
        }
        EXPECT_EQ(w->isEnabled(), row.enabled);
        const QString family =
            *row.fontFamily ? QString::fromLatin1(row.fontFamily) : QStringLiteral("Tahoma");
        const int pixels = row.fontPixels ? row.fontPixels : 11;
        EXPECT_EQ(w->font().family(), family);
        EXPECT_EQ(w->font().pixelSize(), pixels);
        EXPECT_EQ(w->font().bold(), row.bold);
    }
}

TEST_F(WindowLayout, WindowFrameCaptionAndParents) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Importador patrimônio - By Quorvelin"));
    EXPECT_EQ(window->size(), QSize(935, 534));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(window->windowIcon().isNull());
    EXPECT_EQ(ui().ImgAntes->parentWidget(), ui().GroupBox1);
    EXPECT_EQ(ui().LblStatus->parentWidget(), ui().Panel1);
    EXPECT_EQ(ui().ImgAntes->pixmap().isNull(), true);
}

TEST_F(WindowLayout, ColoursPicturesAndAlignment) {
    const auto colour = [](const QWidget* w, QPalette::ColorRole role) {
        return w->palette().color(QPalette::Active, role);
    };
    EXPECT_EQ(colour(ui().LblStatus, QPalette::WindowText), QColor(0, 128, 128));
    EXPECT_EQ(colour(ui().LblWork, QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_EQ(colour(ui().BitBtn1, QPalette::ButtonText), QColor(0, 128, 0));
    EXPECT_EQ(ui().LblStatus->alignment(), Qt::AlignHCenter | Qt::AlignTop);
    EXPECT_TRUE(ui().LblStatus->wordWrap());
    EXPECT_EQ(ui().EdtBensIgnorados->alignment(), Qt::AlignCenter);
    EXPECT_EQ(ui().BitBtn1->iconSize(), QSize(128, 128));
    EXPECT_FALSE(ui().BitBtn1->icon().isNull());
    EXPECT_FALSE(ui().SpeedButton1->icon().isNull());
    EXPECT_TRUE(ui().SpeedButton1->autoRaise());
    EXPECT_FALSE(ui().BtnLOG->icon().isNull());
    EXPECT_TRUE(ui().MemoLOG->acceptRichText());
    EXPECT_FALSE(ui().MemoLOG->isReadOnly());
    EXPECT_FALSE(ui().Ck_Apenas_Tratar_Imagem->isChecked());
    // The "Salvar Log" picture is grey while the button is disabled.
    const QImage disabled = ui().BtnLOG->icon().pixmap(QSize(18, 18), QIcon::Disabled).toImage();
    const QImage normal = ui().BtnLOG->icon().pixmap(QSize(18, 18), QIcon::Normal).toImage();
    const auto hasGreen = [](const QImage& img) {
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.alpha() > 200 && c.green() > c.red() + 40) return true;
            }
        return false;
    };
    EXPECT_TRUE(hasGreen(normal));
    EXPECT_FALSE(hasGreen(disabled));
}

TEST_F(WindowLayout, LightThemeIsInForce) {
    const QPalette p = QApplication::palette();
    EXPECT_EQ(p.color(QPalette::Window), QColor(0xf0, 0xf0, 0xf0));
    EXPECT_EQ(p.color(QPalette::ToolTipBase), QColor(0xff, 0xff, 0xe1));
    EXPECT_FALSE(qApp->styleSheet().isEmpty());
    EXPECT_EQ(window->palette().color(QPalette::Window), p.color(QPalette::Button));
}

TEST_F(WindowLayout, RunCountersStartAtZero) {
    const RunCounters& c = window->counters();
    EXPECT_EQ(c.Erros, 0);
    EXPECT_EQ(c.Total, 0);
    EXPECT_EQ(c.Total_Geral, 0);
    EXPECT_FALSE(c.JaMostrouMensagemTerminou);
    EXPECT_EQ(ui().Gauge1->percent(), 0);
}

TEST_F(WindowLayout, TabOrderFollowsTheLayout) {
    const QList<QWidget*> expected{
        ui().BitBtn1,         ui().Edit2,  ui().EdtH,    ui().EdtW,  ui().Edit1,
        ui().Edit3,           ui().BtnLOG, ui().MemoLOG, ui().Edit4, ui().Ck_Apenas_Tratar_Imagem,
        ui().EdtBensIgnorados};
    // The focus chain, reduced to the controls that take the keyboard focus by Tab.
    QList<QWidget*> chain;
    QWidget* w = ui().BitBtn1;
    do {
        if (w->focusPolicy() & Qt::TabFocus && w->window() == window.get() && w != window.get()) {
            chain << w;
        }
        w = w->nextInFocusChain();
    } while (w != ui().BitBtn1 && chain.size() < 100);
    EXPECT_EQ(chain, expected);
    EXPECT_TRUE(ui().MemoLOG->tabChangesFocus());
}

TEST_F(WindowLayout, NumberBoxesTakeDigitsOnly) {
    QLineEdit* quality = ui().Edit3;
    quality->setFocus();
    quality->end(false);
    QTest::keyClicks(quality, QStringLiteral("5a-7 "));
    EXPECT_EQ(quality->text(), QStringLiteral("6057"));
    for (QLineEdit* e : {ui().EdtH, ui().EdtW, ui().Edit1}) {
        ASSERT_NE(e->validator(), nullptr);
        QString typed = QStringLiteral("12x");
        int pos = 0;
        EXPECT_EQ(e->validator()->validate(typed, pos), QValidator::Invalid);
        // Disabled: nothing the operator types reaches them.
        QTest::keyClicks(e, QStringLiteral("9"));
    }
    EXPECT_EQ(ui().EdtH->text(), QStringLiteral("800"));
    EXPECT_EQ(ui().EdtW->text(), QStringLiteral("600"));
    EXPECT_EQ(ui().Edit1->text(), QStringLiteral("1"));
}

TEST_F(WindowLayout, ResizingStretchesOnlyTheLogView) {
    QMap<QString, QRect> before;
    for (QWidget* w : window->findChildren<QWidget*>()) before[w->objectName()] = w->geometry();

    for (const QSize size : {QSize(1200, 700), QSize(800, 500), QSize(935, 534)}) {
        SCOPED_TRACE(size.width());
        window->resize(size);
        QCoreApplication::processEvents();
        EXPECT_EQ(ui().MemoLOG->geometry(), QRect(0, size.height() - 89, size.width(), 89));
        EXPECT_EQ(ui().BtnLOG->pos(), QPoint(808, 507));
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (w->objectName().isEmpty() || w == ui().MemoLOG) continue;
            if (w->parentWidget() == ui().MemoLOG || ui().MemoLOG->isAncestorOf(w)) continue;
            EXPECT_EQ(w->geometry(), before[w->objectName()]) << w->objectName().toStdString();
        }
    }
    // The button stays on top of the log view's corner.
    EXPECT_EQ(window->childAt(QPoint(850, 515)), ui().BtnLOG);
}

TEST_F(WindowLayout, ModeBoxDisablesOnlyTheSourcePicker) {
    ui().Ck_Apenas_Tratar_Imagem->setChecked(true);
    EXPECT_FALSE(ui().SpeedButton1->isEnabled());
    EXPECT_TRUE(ui().SpeedButton2->isEnabled());
    EXPECT_TRUE(ui().Edit4->isEnabled());
    ui().Ck_Apenas_Tratar_Imagem->setChecked(false);
    EXPECT_TRUE(ui().SpeedButton1->isEnabled());
}

}  // namespace patrimonio::test
