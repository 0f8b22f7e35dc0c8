#pragma once
// TEVSMCKeyDebugWindowController: a diagnostic window that decodes a typed four-character SMC key the way
// the sensor classes read it: kind, its three other characters, the location the known-key tables give it
// on this computer's model and the text a gauge would show. Reads no SMC value. One per process; main thread.

#include "sensors/TEVKnownSMCKeys.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QLabel;
class QLineEdit;
class QWidget;

class TEVSMCKeyDebugWindowController {
public:
    struct Decoding {
        QString sensorType;
        QString locationCharacter;
        QString indexCharacter;
        QString subTypeCharacter;
        QString sensorName;
        QString localizedName;
        bool operator==(const Decoding&) const = default;
    };
    using ModelSource = std::function<TEVKnownSMCKeys::Model()>;

    // Made on first use with the local computer's model.
    static TEVSMCKeyDebugWindowController& sharedWindowController();

    explicit TEVSMCKeyDebugWindowController(ModelSource model = TEVKnownSMCKeys::localModel);
    ~TEVSMCKeyDebugWindowController();
    TEVSMCKeyDebugWindowController(const TEVSMCKeyDebugWindowController&) = delete;
    TEVSMCKeyDebugWindowController& operator=(const TEVSMCKeyDebugWindowController&) = delete;

    static Decoding decodeKey(const QString& key, const TEVKnownSMCKeys::Model& model);

    QWidget* window() const;
    void showWindow();
    QString enteredKey() const { return enteredKey_; }
    // Typing alone decodes nothing.
    void setEnteredKey(const QString& key);
    const Decoding& decoding() const { return decoding_; }
    void refreshWindow();

private:
    ModelSource model_;
    QString enteredKey_;
    Decoding decoding_;
    QPointer<QWidget> window_;
    QPointer<QLineEdit> keyField_;
    QLabel* fields_[6] = {};
};
