#pragma once
// LCDModuleManager: the one owner of LCD output. It follows the LCD controllers as they are plugged in and
// out, keeps one display per configured controller and the module descriptions ("LCDModules", also of
// controllers that are absent), renders every module's output items from the output cache on each tick,
// blanks modules while the user is idle, and runs the LCD preference pane with its test and settings
// sheets. Created by the program and held by the application controller; main thread only.

#include "app/model/ApplicationWindows.h"
#include "framework/widgets/TEVDragTableView.h"
#include "lcd/TEVLCDController.h"
#include "lcd/TEVLCDDisplay.h"
#include "platform/foundation/NotificationCenter.h"

#include <QPointer>
#include <QSet>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QDialog;
class QWidget;
class TEVLCDOutputItem;

class LCDModuleManager final : public LCDManager {
public:
    using ControllerPtr = std::shared_ptr<TEVLCDController>;
    using DisplayPtr = std::shared_ptr<TEVLCDDisplay>;
    using ControllerList = std::vector<ControllerPtr>;

    // What the manager asks of the machine; each empty member is the real one.
    struct Hardware {
        std::function<ControllerList()> listControllers;
        // A display initialised on the controller; null when none can be made for it.
        std::function<DisplayPtr(const ControllerPtr&)> makeDisplay;
        // BSD names of the physical network interfaces.
        std::function<QStringList()> physicalInterfaceNames;
        // Whether to set up the controllers' hot-plug notifications.
        bool observeHotplug = true;
    };

    // A module's description. `values` holds every key but "OutputItems" ("LCDIsSleeping" at run time).
    struct ModuleDescription {
        QVariantMap values;
        std::optional<QVariantList> outputItems; // TEVLCDOutputItem objects, in display order
    };

    static constexpr int NumberOfDisplayTypes = TEVLCDDisplay::NumberOfDisplayTypes;
    static constexpr int SaverSliderSteps = 1000; // slider units per anchor interval
    static constexpr double RescanDelay = 1.0;    // seconds after a controller change

    LCDModuleManager();
    explicit LCDModuleManager(Hardware hardware);
    ~LCDModuleManager() override;

    // The instance the program uses, made with the real hardware on first use (again after its owner let
    // it go).
    static std::shared_ptr<LCDModuleManager> sharedLCDModuleManager();

    // The IO-Warrior special-mode interfaces, then every serial port.
    static ControllerList listOfConnectedLCDControllers();
    // An HD44780 on an IO-Warrior, a Crystalfontz on a serial port; null otherwise.
    static DisplayPtr displayForLCDController(const ControllerPtr& controller);
    static bool displaySupportsHardwareSettings(const TEVLCDDisplay* display);
    // "LC Display 2 x 8" and the like; "- not configured -" for -1; null for any other code.
    static QString labelForDisplayType(qint64 code);
    // The saver slider: positions 0 to 6 over 180, 300, 900, 1800, 3600, 7200 and 10800 s; 6 is never (0).
    static double screenSaverSecondsForSliderPosition(double position);
    static double sliderPositionForScreenSaverSeconds(double seconds);
    // A stored module description as the manager holds it: loading clamps and runtime defaults applied.
    static ModuleDescription lcdModuleDescriptionForPreferenceEntry(const QVariantMap& entry);

    // LCDManager
    QWidget* preferencePaneView() override;
    void setPreferenceWindow(QWidget* window) override;
    void setApplicationController(ControllerLookups* controller) override;
    void setLCDModulePreferences(const QVariantMap& preferences) override;
    std::optional<QVariantMap> lcdModulePreferences() const override;
    void rebuildListOfAvailableOutputItems() override;
    void updateContents() override;
    void updateAllDisplaysUsingOutputCache(const ControllerLookups::OutputCache& cache) override;
    void shutdownAllDisplays() override;

    // Pane actions.
    void selectController();
    void selectDisplayType();
    void selectOutputElement();
    void changeElementOption();
    void deleteElement();
    void rescanAvailableElements();
    // Lists the controllers again, as a hot-plug event would.
    void lookForControllersAgain();
    void changeLCDSaver();
    void openLCDSettingsSheet();
    void changeLCDSetting(bool reset = false);
    void closeLCDSettingsSheet();
    void enterTestMode();
    void changeTestMode();
    void closeTestSheet();

    // The text a test pattern (tag of testTypeButtons) sends to a display; null for an unknown tag.
    static QString testPatternText(int tag, const TEVLCDController& controller, quint8 lines, quint8 columns);
    // How an item reads in the pane's tables.
    QString localizedPresentationForLCDOutputItem(const TEVLCDOutputItem& item) const;

    // State, for the program's pane and for tests.
    const ControllerList& lcdControllers() const { return lcdControllers_; }
    DisplayPtr displayForSpecifier(const QString& specifier) const;
    const ModuleDescription* descriptionForSpecifier(const QString& specifier) const;
    ModuleDescription* descriptionForSpecifier(const QString& specifier);
    const QVariantList& availableOutputItems() const { return availableOutputItems_; }
    ControllerPtr selectedController() const { return selectedController_; }
    DisplayPtr modalDisplay() const { return modalDisplay_; }
    // The output items of the selected module; null without a selected, configured module.
    QVariantList* selectedList();
    QDialog* lcdSettingsSheet() const;
    QDialog* testSheet() const;

private:
    class ControllerModel;
    class ItemModel;
    class DragSource;
    struct Ui;

    void setupPane();
    void ensurePane() const;
    void controllerDidChange(const platform::Notification& notification);
    void processChangeInLCDConfiguration();
    void synchronizeModulesWithDescriptions();
    DisplayPtr makeDisplay(const ControllerPtr& controller) const;
    void updateHardwareSettingsForDisplay(TEVLCDDisplay& display, const ModuleDescription* description) const;
    void updateSleepStateOfAllControllers();
    void setModuleSleeping(const QString& specifier, bool sleeping);
    void activateElementOptionBox(QWidget* box);
    void setSaverControls(double seconds);
    std::shared_ptr<TEVLCDOutputItem> selectedItem() const;
    void beep() const;

    Hardware hardware_;
    ControllerList lcdControllers_;
    std::map<QString, DisplayPtr> displaysByController_;
    std::map<QString, ModuleDescription> knownLCDDescriptions_;
    QVariantList availableOutputItems_;
    ControllerPtr selectedController_;
    // The user picked the selected controller; until then the pane picks one.
    bool controllerChosen_ = false;
    DisplayPtr modalDisplay_;
    std::optional<quint64> lastUIIdleTimer_; // the last reading; none before the first
    ControllerLookups* applicationController_ = nullptr;
    QPointer<QWidget> preferenceWindow_;
    // Controller classes that reported a removal since the last rescan: their present controllers are
    // reopened, since an equal one may be a re-plugged device behind a dead handle.
    QSet<const void*> removalsSinceRescan_;
    platform::ObserverToken changeObserver_;
    bool preferencesSet_ = false;
    bool refreshing_ = false;

    std::unique_ptr<Ui> ui_;
    // The host window may take the pane as its child and delete it before the manager goes.
    QPointer<QWidget> dummyWindow_;
    std::unique_ptr<ControllerModel> controllerModel_;
    std::unique_ptr<ItemModel> sourceModel_;
    std::unique_ptr<ItemModel> targetModel_;
    std::shared_ptr<DragSource> dragSource_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
