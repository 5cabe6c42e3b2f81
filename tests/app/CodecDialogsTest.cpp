// The Tavro control dialogs driven as a user drives them, against the real
// Tavro codec library and the demo movies: keys typed into the fields, the
// sliders moved with the keyboard and dragged with the mouse, and the
// picture looked at after each change.
#include "QtTestApp.h"

#include "app/MainWindow.h"
#include "app/VideoWidget.h"
#include "dialogs/AccessKeyDialog.h"
#include "dialogs/CodecDialogState.h"
#include "dialogs/ColorDialog.h"
#include "dialogs/ScalabilityDialog.h"
#include "dialogs/Trackbar.h"
#include "engine/Player.h"
#include "res/Resource.h"
#include "support/Process.h"

#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>

using cadmo::test::Settle;

namespace {

class CodecDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        cadmo::test::TestApplication();
        demo = cadmo::test::BinDir() + "demo/";
        // The build makes them, with the codec library, before this test.
        ASSERT_TRUE(QFile::exists(QString::fromStdString(demo + "qx47keyed.avi"))) << demo;
        ResetCodecDialogState();
        ShellHooks hooks;
        hooks.messageBox = [](const QString& text, const QString&, UINT) {
            ADD_FAILURE() << "message box: " << text.toStdString();
            return static_cast<INT>(IDOK);
        };
        window = std::make_unique<MainWindow>(hooks);
        window->show();
        Settle();
    }

    void TearDown() override {
        if (window)
            window->close();
        window.reset();
        Settle();
    }

    void Open(const char* name) {
        window->OpenMovieFile(QString::fromStdString(demo + name), nullptr);
        Settle();
    }

    // The picture as the window shows it now, drawn afresh.
    QImage Picture() {
        Settle();
        window->Video()->repaint();
        return window->Video()->SurfaceImage();
    }

    // How colourful a picture is: the mean spread between its largest and
    // smallest channel. A grey picture has none.
    static double Colourfulness(const QImage& image) {
        double sum = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb c = image.pixel(x, y);
                sum += std::max({qRed(c), qGreen(c), qBlue(c)}) - std::min({qRed(c), qGreen(c), qBlue(c)});
            }
        return image.isNull() ? 0 : sum / (image.width() * image.height());
    }

    // A mouse event on `slider` with the left button held or released.
    static void Mouse(Trackbar* slider, QEvent::Type type, QPoint at) {
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, slider->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
        QApplication::sendEvent(slider, &event);
    }

    static QPoint Handle(Trackbar* slider) {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = Qt::Horizontal;
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = slider->sliderPosition();
        option.sliderValue = slider->value();
        return slider->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
            .center();
    }

    // A key pressed in `widget`'s window, which has the focus then, as it
    // has on a desktop when the dialog opens: the main window's shortcuts
    // must not take the key.
    static void Key(QWidget* widget, Qt::Key key) {
        QApplication::setActiveWindow(widget->window());
        QTest::keyClick(widget, key);
    }

    std::string demo;
    std::unique_ptr<MainWindow> window;
};

LONG CodecScalability() {
    LONG ms = -99;
    GetScalability(&ms, FALSE);
    return ms;
}

ColorValues CodecColors() {
    ColorValues v{-999, -999, -999};
    GetColorControls(&v.brightness, &v.saturation, &v.contrast, FALSE);
    return v;
}

TEST_F(CodecDialogsTest, TheKeyedMovieShowsItsPictureOnceTheKeyIsSet) {
    Open("qx47keyed.avi");
    EXPECT_LT(Colourfulness(Picture()), 1.0) << "grey without its key";

    window->OnCommand(IDM_ACCESSKEY);
    AccessKeyDialog* dialog = window->AccessKeyDialogHandle();
    ASSERT_NE(dialog, nullptr);
    QLineEdit* field = dialog->KeyField();
    EXPECT_EQ(dialog->focusWidget(), field) << "ready for the key";

    QTest::keyClicks(field, "4711");
    Key(field, Qt::Key_Return); // the default button, Set
    EXPECT_EQ(window->AccessKeyDialogHandle(), nullptr);
    EXPECT_EQ(storedAccessKey, 4711);
    const QImage unlocked = Picture();
    EXPECT_GT(Colourfulness(unlocked), 10.0) << "the picture, not grey";

    // Letters store 0 and send nothing: the picture stays. A key beyond the
    // signed range is stored negative and not shown again.
    struct Entry {
        const char* typed;
        LONG stored;
        const char* shownNext;
    };
    for (const Entry& e :
         {Entry{" 12x", 0, "0"}, Entry{"99999999999", 0, "0"}, Entry{"4294967295", -1, ""}}) {
        window->OnCommand(IDM_ACCESSKEY);
        dialog = window->AccessKeyDialogHandle();
        ASSERT_NE(dialog, nullptr);
        dialog->KeyField()->setText(QString::fromLatin1(e.typed));
        dialog->Control<QPushButton>(IDOK)->click();
        EXPECT_EQ(storedAccessKey, e.stored) << e.typed;
        window->OnCommand(IDM_ACCESSKEY);
        EXPECT_EQ(window->AccessKeyDialogHandle()->KeyField()->text(), e.shownNext) << e.typed;
        Key(window->AccessKeyDialogHandle(), Qt::Key_Escape);
        EXPECT_EQ(window->AccessKeyDialogHandle(), nullptr);
        if (e.stored == 0) {
            EXPECT_TRUE(Picture() == unlocked) << "nothing was sent for \"" << e.typed << '"';
        }
    }
    EXPECT_LT(Colourfulness(Picture()), 1.0) << "a wrong key was sent: grey again";
}

TEST_F(CodecDialogsTest, ColorControlsChangeThePictureWhileDraggingAndCancelRestoresIt) {
    Open("qx47demo.avi");
    const QImage original = Picture();
    ASSERT_GT(Colourfulness(original), 10.0);
    window->OnCommand(IDM_COLORCONTROLS);
    ColorDialog* dialog = window->ColorDialogHandle();
    ASSERT_NE(dialog, nullptr);

    // Saturation dragged to its left end: grey while the button is still down.
    Trackbar* saturation = dialog->Saturation();
    const QPoint grab = Handle(saturation);
    Mouse(saturation, QEvent::MouseButtonPress, grab);
    Mouse(saturation, QEvent::MouseMove, QPoint(grab.x() - 20, grab.y()));
    Mouse(saturation, QEvent::MouseMove, QPoint(-200, grab.y()));
    EXPECT_TRUE(saturation->isSliderDown());
    EXPECT_EQ(CodecColors().saturation, -255);
    EXPECT_EQ(dialog->Control<QLabel>(IDC_SATURATIONVALUE)->text(), "-255");
    EXPECT_LT(Colourfulness(Picture()), 1.0);
    Mouse(saturation, QEvent::MouseButtonRelease, QPoint(-200, grab.y()));

    // Brightness and contrast from the keyboard.
    dialog->Brightness()->setFocus();
    Key(dialog->Brightness(), Qt::Key_End);
    Key(dialog->Contrast(), Qt::Key_PageUp);
    const ColorValues moved = CodecColors();
    EXPECT_EQ(moved.brightness, 255);
    EXPECT_EQ(moved.contrast, 16);
    EXPECT_EQ(dialog->Control<QLabel>(IDC_CONTRASTVALUE)->text(), "16");

    // Reset brings the codec's defaults into the dialog, which stays open.
    dialog->Control<QPushButton>(IDC_RESET)->click();
    ASSERT_EQ(window->ColorDialogHandle(), dialog);
    EXPECT_EQ(dialog->Saturation()->value(), 0);
    EXPECT_EQ(CodecColors().saturation, 0);

    // Escape is Cancel: the values the codec had at opening come back.
    Key(dialog, Qt::Key_Escape);
    EXPECT_EQ(window->ColorDialogHandle(), nullptr);
    const ColorValues restored = CodecColors();
    EXPECT_EQ(std::make_tuple(restored.brightness, restored.saturation, restored.contrast),
              std::make_tuple(0, 0, 0));
    EXPECT_TRUE(Picture() == original) << "the picture as before";
}

TEST_F(CodecDialogsTest, ScalabilityTellsTheCodecOnlyWhenTheThumbIsReleased) {
    Open("qx47demo.avi");
    const LONG codecStart = CodecScalability();
    window->OnCommand(IDM_SCALABILITY);
    ScalabilityDialog* dialog = window->ScalabilityDialogHandle();
    ASSERT_NE(dialog, nullptr);
    Trackbar* slider = dialog->Slider();
    QLabel* value = dialog->Control<QLabel>(IDC_SCALEVALUE);

    // The wide end of the scale, one step from the keyboard at a time.
    for (auto [from, shown] :
         {std::pair{100, "112"}, {104, "162"}, {107, "200"}, {111, "300"}, {115, "500"}}) {
        slider->setValue(from);
        Key(slider, Qt::Key_Right);
        EXPECT_EQ(value->text(), shown) << "position " << from + 1;
        EXPECT_EQ(CodecScalability(), QString(shown).toInt());
    }

    // Dragging changes only the number until the thumb is let go.
    slider->setValue(0);
    Key(slider, Qt::Key_Home);
    ASSERT_EQ(CodecScalability(), 0);
    const QPoint grab = Handle(slider);
    Mouse(slider, QEvent::MouseButtonPress, grab);
    Mouse(slider, QEvent::MouseMove, QPoint(grab.x() + 30, grab.y()));
    Mouse(slider, QEvent::MouseMove, QPoint(grab.x() + 60, grab.y()));
    const QString dragged = value->text();
    EXPECT_NE(dragged, "0");
    EXPECT_EQ(CodecScalability(), 0) << "not told while dragging";
    Mouse(slider, QEvent::MouseButtonRelease, QPoint(grab.x() + 60, grab.y()));
    EXPECT_EQ(CodecScalability(), dragged.toInt());

    // Cancel gives the codec its own value back; the dialog opens again with
    // the number last shown.
    dialog->Control<QPushButton>(IDCANCEL)->click();
    EXPECT_EQ(window->ScalabilityDialogHandle(), nullptr);
    EXPECT_EQ(CodecScalability(), codecStart);
    window->OnCommand(IDM_SCALABILITY);
    dialog = window->ScalabilityDialogHandle();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->Control<QLabel>(IDC_SCALEVALUE)->text(), dragged);
    // Enter is OK, which keeps the value.
    Key(dialog->Slider(), Qt::Key_Home);
    Key(dialog->Slider(), Qt::Key_Right);
    Key(dialog, Qt::Key_Return);
    EXPECT_EQ(window->ScalabilityDialogHandle(), nullptr);
    EXPECT_EQ(CodecScalability(), 1);
}

TEST_F(CodecDialogsTest, CloseEndsEveryDialogAndAnOpenDialogServesTheNextMovie) {
    // Opened with no movie, a dialog still works as a dialog, and once a
    // movie opens it acts on that movie's decoder.
    window->OnCommand(IDM_COLORCONTROLS);
    ColorDialog* color = window->ColorDialogHandle();
    ASSERT_NE(color, nullptr);
    Open("qx47demo.avi");
    ASSERT_EQ(window->ColorDialogHandle(), color);
    Key(color->Saturation(), Qt::Key_Home);
    EXPECT_EQ(CodecColors().saturation, -255);
    EXPECT_LT(Colourfulness(Picture()), 1.0);

    window->OnCommand(IDM_SCALABILITY);
    window->OnCommand(IDM_ACCESSKEY);
    ASSERT_NE(window->ScalabilityDialogHandle(), nullptr);
    ASSERT_NE(window->AccessKeyDialogHandle(), nullptr);
    window->OnCommand(IDM_CLOSE);
    EXPECT_EQ(window->ScalabilityDialogHandle(), nullptr);
    EXPECT_EQ(window->ColorDialogHandle(), nullptr);
    EXPECT_EQ(window->AccessKeyDialogHandle(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChildren<CodecDialog*>().size(), 0u) << "the closed dialogs are gone";

    // The next movie starts with the codec's own colours and is not
    // touched until the user acts.
    Open("qx47demo.avi");
    EXPECT_EQ(CodecColors().saturation, 0);
    EXPECT_GT(Colourfulness(Picture()), 10.0);
}

} // namespace
