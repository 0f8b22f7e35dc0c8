#include "windows/TEVSMCKeyDebugWindowController.h"

#include "app/model/TEVGauge.h"
#include "platform/foundation/Values.h"

#include "ui_TEVSMCKeyDebugWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

std::optional<QString> locationOf(const std::optional<QVariantMap>& description)
{
    if (!description)
        return std::nullopt;
    return platform::values::toString(description->value(QStringLiteral("LocationID")));
}

} // namespace

TEVSMCKeyDebugWindowController& TEVSMCKeyDebugWindowController::sharedWindowController()
{
    static TEVSMCKeyDebugWindowController* shared = new TEVSMCKeyDebugWindowController; // lives for the run
    return *shared;
}

TEVSMCKeyDebugWindowController::TEVSMCKeyDebugWindowController(ModelSource model)
    : model_(std::move(model))
{
    window_ = new QWidget;
    Ui::TEVSMCKeyDebugWindow ui;
    ui.setupUi(window_);
    keyField_ = ui.enteredKey;
    QLabel* const fields[6] = {ui.sensorType, ui.locationCharacter, ui.indexCharacter,
                               ui.subTypeCharacter, ui.sensorName, ui.localizedName};
    std::copy(std::begin(fields), std::end(fields), fields_);
    QObject::connect(keyField_, &QLineEdit::textChanged, window_, [this](const QString& text) { enteredKey_ = text; });
    QObject::connect(keyField_, &QLineEdit::returnPressed, window_, [this] { refreshWindow(); });
    QObject::connect(ui.refreshButton, &QPushButton::clicked, window_, [this] { refreshWindow(); });
    refreshWindow();
}

TEVSMCKeyDebugWindowController::~TEVSMCKeyDebugWindowController()
{
    delete window_.data();
}

QWidget* TEVSMCKeyDebugWindowController::window() const
{
    return window_.data();
}

void TEVSMCKeyDebugWindowController::showWindow()
{
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void TEVSMCKeyDebugWindowController::setEnteredKey(const QString& key)
{
    enteredKey_ = key;
    if (keyField_ && keyField_->text() != key)
        keyField_->setText(key);
}

TEVSMCKeyDebugWindowController::Decoding TEVSMCKeyDebugWindowController::decodeKey(const QString& key,
                                                                                  const TEVKnownSMCKeys::Model& model)
{
    Decoding result;
    // UTF-16 units, as the key's length is counted.
    if (key.size() != 4)
        return result;
    result.locationCharacter = key.mid(1, 1);
    result.indexCharacter = key.mid(2, 1);
    result.subTypeCharacter = key.mid(3, 1);
    std::optional<QString> location;
    switch (key.at(0).unicode()) {
    case 'T':
        result.sensorType = QStringLiteral("Temperature");
        location = locationOf(TEVKnownSMCKeys::temperatureDescription(key, model));
        break;
    case 'V':
        result.sensorType = QStringLiteral("Voltage");
        location = locationOf(TEVKnownSMCKeys::electricDescription(key, model));
        break;
    case 'I':
        result.sensorType = QStringLiteral("Current");
        location = locationOf(TEVKnownSMCKeys::electricDescription(key, model));
        break;
    case 'P':
        result.sensorType = QStringLiteral("Power");
        location = locationOf(TEVKnownSMCKeys::electricDescription(key, model));
        break;
    case 'F':
        result.sensorType = QStringLiteral("Fan Revolutions");
        location = QStringLiteral("*determined dynamically*");
        break;
    case 'A':
        result.sensorType = QStringLiteral("Light");
        location = QStringLiteral("SMC AMBIENT LIGHT %1").arg(qint64(key.at(3).unicode()) - 47);
        break;
    default:
        break;
    }
    if (location) {
        result.sensorName = *location;
        result.localizedName = TEVGauge::localizedLocationForLocation(TEVGauge::presentedLocationForLocationIdentifier(*location));
    }
    return result;
}

void TEVSMCKeyDebugWindowController::refreshWindow()
{
    decoding_ = decodeKey(enteredKey_, model_());
    const QString* texts[6] = {&decoding_.sensorType,       &decoding_.locationCharacter, &decoding_.indexCharacter,
                               &decoding_.subTypeCharacter, &decoding_.sensorName,        &decoding_.localizedName};
    for (int i = 0; i < 6; ++i)
        fields_[i]->setText(*texts[i]);
}
