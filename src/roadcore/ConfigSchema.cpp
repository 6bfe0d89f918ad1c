#include "roadcore/ConfigSchema.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace ConfigSchema {

Kind Kind::choice(QList<Option> options)
{
    Kind kind;
    kind.type = Type::choice;
    kind.options = std::move(options);
    return kind;
}

Kind Kind::range(double lower, double upper, double step, std::optional<QString> unit)
{
    Kind kind;
    kind.type = Type::range;
    kind.lower = lower;
    kind.upper = upper;
    kind.step = step;
    kind.unit = std::move(unit);
    return kind;
}

Kind Kind::toggle()
{
    Kind kind;
    kind.type = Type::toggle;
    return kind;
}

Kind Kind::text()
{
    return Kind{};
}

bool operator==(const Kind &a, const Kind &b)
{
    if (a.type != b.type)
        return false;
    switch (a.type) {
    case Kind::Type::choice:
        return std::equal(a.options.begin(), a.options.end(), b.options.begin(), b.options.end(),
                          [](const Option &x, const Option &y) { return x.value == y.value; });
    case Kind::Type::range:
        return a.lower == b.lower && a.upper == b.upper && a.step == b.step && a.unit == b.unit;
    case Kind::Type::toggle:
    case Kind::Type::text:
        break;
    }
    return true;
}

const Kind &sensitivity()
{
    static const Kind kind = Kind::choice({{QStringLiteral("1"), QStringLiteral("Lowest")},
                                           {QStringLiteral("2"), QStringLiteral("Low")},
                                           {QStringLiteral("3"), QStringLiteral("Medium")},
                                           {QStringLiteral("4"), QStringLiteral("High")},
                                           {QStringLiteral("5"), QStringLiteral("Highest")}});
    return kind;
}

namespace {

QHash<QString, Field> buildFields()
{
    const QString recording = QStringLiteral("Recording");
    const QString parking = QStringLiteral("Parking");
    const QString assistance = QStringLiteral("Driver Assistance");
    const QString audio = QStringLiteral("Audio");
    const QString system = QStringLiteral("System");
    const QString device = QStringLiteral("Device");
    const QString partition = QStringLiteral("Memory Partition");
    const QString time = QStringLiteral("Time");

    const Kind sensitive = sensitivity();
    const Kind toggle = Kind::toggle();
    const Kind text = Kind::text();
    const Kind hours = Kind::range(0, 48, 1, QStringLiteral("h"));
    const Kind level = Kind::range(0, 5, 1);
    const Kind tenSteps = Kind::range(0, 10, 1);
    const Kind percent = Kind::range(0, 100, 1, QStringLiteral("%"));
    const Kind parkMode = Kind::choice({{QStringLiteral("0"), QStringLiteral("Off")},
                                        {QStringLiteral("1"), QStringLiteral("Motion detection")},
                                        {QStringLiteral("2"), QStringLiteral("Time-lapse")},
                                        {QStringLiteral("3"), QStringLiteral("Energy saving")}});

    const std::pair<const char *, Field> table[] = {
        {"rec_quality",
         {QStringLiteral("Recording quality"), recording,
          Kind::choice({{QStringLiteral("-1"), QStringLiteral("Default")},
                        {QStringLiteral("0"), QStringLiteral("Highest")},
                        {QStringLiteral("1"), QStringLiteral("High")},
                        {QStringLiteral("2"), QStringLiteral("Standard")}}),
          std::nullopt}},
        {"front_resolution", {QStringLiteral("Front resolution"), recording, text, std::nullopt}},
        {"rear_resolution", {QStringLiteral("Rear resolution"), recording, text, std::nullopt}},
        {"front_framerate", {QStringLiteral("Front frame rate"), recording, text, std::nullopt}},
        {"rear_framerate", {QStringLiteral("Rear frame rate"), recording, text, std::nullopt}},
        {"osd_speed", {QStringLiteral("Speed stamp on video"), recording, toggle, std::nullopt}},
        {"speed_stamp", {QStringLiteral("Speed stamp on video"), recording, toggle, std::nullopt}},
        {"acc_level", {QStringLiteral("Driving impact sensitivity"), recording, sensitive, std::nullopt}},
        {"acceleration_sensor",
         {QStringLiteral("Driving impact sensitivity"), recording, sensitive, std::nullopt}},
        {"use_only_front_cam", {QStringLiteral("Record front camera only"), recording, toggle, std::nullopt}},
        {"front_camera_rotation", {QStringLiteral("Rotate front camera"), recording, toggle, std::nullopt}},
        {"rear_camera_rotation", {QStringLiteral("Rotate rear camera"), recording, toggle, std::nullopt}},
        {"park_mode", {QStringLiteral("Parking mode"), parking, parkMode, std::nullopt}},
        {"parking_mode_set", {QStringLiteral("Parking mode"), parking, parkMode, std::nullopt}},
        {"park_motion", {QStringLiteral("Motion detection"), parking, toggle, std::nullopt}},
        {"motion_level", {QStringLiteral("Motion sensitivity"), parking, sensitive, std::nullopt}},
        {"parking_motion_sensitivity",
         {QStringLiteral("Motion sensitivity"), parking, sensitive, std::nullopt}},
        {"parking_acceleration_sensor",
         {QStringLiteral("Parking impact sensitivity"), parking, sensitive, std::nullopt}},
        {"parking_time_limit",
         {QStringLiteral("Parking recording time limit"), parking, hours, std::nullopt}},
        {"power_off_vlt",
         {QStringLiteral("Battery cut-off voltage"), parking,
          Kind::range(11000, 25000, 100, QStringLiteral("mV")),
          QStringLiteral("Stops parking recording when the vehicle battery drops below this voltage.")}},
        {"power_off_hour", {QStringLiteral("Battery protection timer"), parking, hours, std::nullopt}},
        {"temp_limit",
         {QStringLiteral("High-temperature cut-off"), parking,
          Kind::range(60, 100, 1, QStringLiteral("\u00B0C")), std::nullopt}},
        {"use_adas", {QStringLiteral("Driver assistance (ADAS)"), assistance, toggle, std::nullopt}},
        {"ldws_left",
         {QStringLiteral("Lane departure \u2013 left sensitivity"), assistance, sensitive, std::nullopt}},
        {"ldws_right",
         {QStringLiteral("Lane departure \u2013 right sensitivity"), assistance, sensitive, std::nullopt}},
        {"ldws_alarm_center", {QStringLiteral("Lane departure alert"), assistance, toggle, std::nullopt}},
        {"ldws_alarm_normal", {QStringLiteral("Lane departure chime"), assistance, toggle, std::nullopt}},
        {"ldws_center", {QStringLiteral("Calibration \u2013 horizon X"), assistance, text, std::nullopt}},
        {"ldws_front", {QStringLiteral("Calibration \u2013 bonnet Y"), assistance, text, std::nullopt}},
        {"use_rguide", {QStringLiteral("Road safety guidance"), assistance, toggle, std::nullopt}},
        {"fcws_frontal_sensitivity",
         {QStringLiteral("Forward collision sensitivity"), assistance, sensitive, std::nullopt}},
        {"mic_in", {QStringLiteral("Record audio"), audio, toggle, std::nullopt}},
        {"mic_volume", {QStringLiteral("Microphone level"), audio, level, std::nullopt}},
        {"voice_out", {QStringLiteral("Voice guidance"), audio, toggle, std::nullopt}},
        {"voice_volume", {QStringLiteral("Speaker volume"), audio, level, std::nullopt}},
        {"use_alarm_const", {QStringLiteral("Continuous-recording chime"), audio, toggle, std::nullopt}},
        {"use_alarm_park", {QStringLiteral("Parking-recording chime"), audio, toggle, std::nullopt}},
        {"sec_alarm", {QStringLiteral("Security alarm"), audio, level, std::nullopt}},
        {"language",
         {QStringLiteral("Language"), system,
          Kind::choice({{QStringLiteral("us"), QStringLiteral("English (US)")},
                        {QStringLiteral("uk"), QStringLiteral("English (UK)")},
                        {QStringLiteral("fr"), QStringLiteral("French")},
                        {QStringLiteral("de"), QStringLiteral("German")},
                        {QStringLiteral("es"), QStringLiteral("Spanish")},
                        {QStringLiteral("it"), QStringLiteral("Italian")},
                        {QStringLiteral("ja"), QStringLiteral("Japanese")},
                        {QStringLiteral("ko"), QStringLiteral("Korean")},
                        {QStringLiteral("cn"), QStringLiteral("Chinese")},
                        {QStringLiteral("pt"), QStringLiteral("Portuguese")},
                        {QStringLiteral("ru"), QStringLiteral("Russian")}}),
          std::nullopt}},
        {"front_led", {QStringLiteral("Front security LED"), system, toggle, std::nullopt}},
        {"rear_led_onoff", {QStringLiteral("Rear security LED"), system, toggle, std::nullopt}},
        {"lcd_off_timer",
         {QStringLiteral("Screen off after"), system,
          Kind::choice({{QStringLiteral("0"), QStringLiteral("Never")},
                        {QStringLiteral("10"), QStringLiteral("10 s")},
                        {QStringLiteral("30"), QStringLiteral("30 s")},
                        {QStringLiteral("60"), QStringLiteral("1 min")},
                        {QStringLiteral("180"), QStringLiteral("3 min")}}),
          std::nullopt}},
        {"brightness", {QStringLiteral("Brightness"), system, tenSteps, std::nullopt}},
        {"contrast", {QStringLiteral("Contrast"), system, tenSteps, std::nullopt}},
        {"summer_time", {QStringLiteral("Daylight saving time"), system, toggle, std::nullopt}},
        {"local_time",
         {QStringLiteral("Time zone (UTC offset)"), system, Kind::range(-12, 14, 0.5, QStringLiteral("h")),
          std::nullopt}},
        {"model", {QStringLiteral("Model"), device, text, std::nullopt}},
        {"version", {QStringLiteral("Firmware version"), device, text, std::nullopt}},
        {"const", {QStringLiteral("Continuous"), partition, percent, std::nullopt}},
        {"event", {QStringLiteral("Incident"), partition, percent, std::nullopt}},
        {"manual", {QStringLiteral("Manual"), partition, percent, std::nullopt}},
        {"park", {QStringLiteral("Parking"), partition, percent, std::nullopt}},
        {"set", {QStringLiteral("Apply computer time on next boot"), time, toggle, std::nullopt}},
    };

    QHash<QString, Field> map;
    map.reserve(std::size(table));
    for (const auto &[key, field] : table) {
        Q_ASSERT(!map.contains(QLatin1String(key)));
        map.insert(QLatin1String(key), field);
    }
    return map;
}

} // namespace

const QHash<QString, Field> &fields()
{
    static const QHash<QString, Field> map = buildFields();
    return map;
}

std::optional<Field> field(const QString &key)
{
    const auto it = fields().constFind(key);
    if (it == fields().constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QString> configURL(const QString &volumePath)
{
    static const char *const folders[] = {"SETTING", "setting", "Setting"};
    static const char *const files[] = {"blackbox.cfg", "setup.cfg", "default.cfg"};
    for (const char *folder : folders) {
        for (const char *file : files) {
            const QString path =
                QDir(volumePath).filePath(QLatin1String(folder) + QLatin1Char('/') + QLatin1String(file));
            if (QFileInfo::exists(path))
                return path;
        }
    }
    return std::nullopt;
}

} // namespace ConfigSchema
