#include "roadloom/ui/device/DeviceSettingsWindow.h"

#include "roadloom/model/AppModelHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QAbstractButton>
#include <QPushButton>

using namespace AppHarness;

namespace {

const QByteArray cardBytes =
    "[Rec]\r\nrec_quality=1\r\nfront_resolution=1920x1080\r\nosd_speed=1\r\nacc_level=3\r\n"
    "[Parking]\r\npark_mode=1\r\npower_off_vlt=12000\r\n[Audio]\r\nmic_in=1\r\nvoice_volume=3\r\n"
    "[Time]\r\nlocal_time=8\r\n[capacity]\r\nconst=60\r\nevent=20\r\nodd_key=on\r\n";

class DeviceSettingsScreenshotTest : public ModelTest {
protected:
    void TearDown() override
    {
        window.reset();
        ModelTest::TearDown();
    }
    std::unique_ptr<DeviceSettingsWindow> window;
};

// Pixels of the button's face in the accent's hue (the style shades the face, so not one exact colour).
int accentPixels(const QImage &image, QWidget *button, QWidget *window)
{
    const QColor accent = Palette::accent(Screenshot::palette(Screenshot::Appearance::light));
    const QRect face(button->mapTo(window, QPoint(4, 4)), button->size() - QSize(8, 8));
    return Screenshot::count(image, face, [&](const QColor &c) {
        const int hue = std::abs(c.hsvHue() - accent.hsvHue());
        return c.hsvSaturation() > 90 && std::min(hue, 360 - hue) < 20;
    });
}

TEST_F(DeviceSettingsScreenshotTest, SaveToCardStandsOutOnlyWithUnsavedEdits)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    Screenshot::prepare();
    const QString root = dir.filePath("media/NO NAME");
    TestSupport::writeFile(root + "/SETTING/blackbox.cfg", cardBytes);
    volumes.volumes = {MountedVolume{root, "NO NAME", false}};
    make({});
    window = std::make_unique<DeviceSettingsWindow>(*model);

    const QImage picker = Screenshot::capture(window.get(), QSize(640, 720), "device-settings-picker");
    ASSERT_EQ(window->pickerButtons().size(), 2);
    QPushButton *card = window->pickerButtons().constFirst();
    EXPECT_GT(accentPixels(picker, card, window.get()), card->width() * card->height() / 3);

    card->click();
    ASSERT_TRUE(TestSupport::waitFor([&] { return !window->rows().isEmpty(); }));
    ConfigRow *mic = nullptr;
    for (ConfigRow *row : window->rows())
        if (row->entry().key == "mic_in")
            mic = row;
    ASSERT_TRUE(mic);
    static_cast<QAbstractButton *>(mic->control())->click();
    const QImage dirty = Screenshot::capture(window.get(), QSize(640, 720), "device-settings-dirty");
    QPushButton *save = window->saveButton();
    const int area = save->width() * save->height();
    EXPECT_GT(accentPixels(dirty, save, window.get()), area / 3)
        << "prominent while there is something to save";

    window->revert();
    const QImage clean = Screenshot::capture(window.get(), QSize(640, 720), "device-settings-clean");
    EXPECT_LT(accentPixels(clean, save, window.get()), area / 20) << "disabled when clean";

    window->setShowRaw(true);
    Screenshot::capture(window.get(), QSize(640, 720), "device-settings-raw");
}

} // namespace
