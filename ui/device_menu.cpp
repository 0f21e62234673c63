#include "ui/device_menu.h"
#include "ui/texts.h"

#include "base/message.h"
#include "base/text.h"
#include "core/set_controller.h"
#include "desktop/qt_text.h"
#include "desktop/virtual_microphone.h"

#include <QActionGroup>

#include <algorithm>

namespace {

const char* const kDefaultDevice = "既定のデバイス(&D)";
const char* const kNoMonitor = "なし(&N)";
const char* const kMakeVirtualMic = "仮想マイクを作成(&V)";

// A device name is shown as the sound system gives it: an '&' in it marks no mnemonic.
QString DeviceText(const std::string& name) {
    return QString::fromStdString(name).replace(u'&', QStringLiteral("&&"));
}

} // namespace

CDeviceMenu::CDeviceMenu(CSetController& controller, QWidget* parent)
    : QMenu(QStringFromUtf8("出力デバイス(&D)"), parent), m_controller(controller),
      m_pMonitorMenu(new QMenu(QStringFromUtf8("モニター出力(&M)"), this)),
      m_pMainGroup(new QActionGroup(this)), m_pMonitorGroup(new QActionGroup(m_pMonitorMenu)) {
    connect(this, &QMenu::aboutToShow, this, &CDeviceMenu::Rebuild);
    Rebuild();
}

void CDeviceMenu::Rebuild() {
    // The actions go; the submenu and the groups, which the menu does not own, stay.
    clear();
    m_pMonitorMenu->clear();
    const std::vector<std::string> names = m_controller.OutputDeviceNames();
    const OutputRoute& route = m_controller.Route();

    auto addMain = [&](const QString& text, const std::string& name) {
        QAction* action = addAction(text);
        action->setCheckable(true);
        action->setChecked(route.strMain == name);
        m_pMainGroup->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, name] { m_controller.ChooseOutputDevice(name); });
    };
    addMain(QStringFromUtf8(kDefaultDevice), {});
    for (const std::string& name : names)
        addMain(DeviceText(name), name);
    // A chosen device that is missing now stays in the list, checked, so the choice is visible.
    if (!route.strMain.empty() &&
        std::find(names.begin(), names.end(), route.strMain) == names.end())
        addMain(DeviceText(route.strMain), route.strMain);

    addSeparator();
    addMenu(m_pMonitorMenu);
    auto addMonitor = [&](const QString& text, bool on, const std::string& name) {
        QAction* action = m_pMonitorMenu->addAction(text);
        action->setCheckable(true);
        action->setChecked(route.bMonitor == on && (!on || route.strMonitor == name));
        m_pMonitorGroup->addAction(action);
        connect(action, &QAction::triggered, this,
                [this, on, name] { m_controller.ChooseMonitorDevice(on, name); });
    };
    addMonitor(QStringFromUtf8(kNoMonitor), false, {});
    addMonitor(QStringFromUtf8(kDefaultDevice), true, {});
    for (const std::string& name : names)
        addMonitor(DeviceText(name), true, name);
    if (route.bMonitor && !route.strMonitor.empty() &&
        std::find(names.begin(), names.end(), route.strMonitor) == names.end())
        addMonitor(DeviceText(route.strMonitor), true, route.strMonitor);

    addSeparator();
    connect(addAction(QStringFromUtf8(kMakeVirtualMic)), &QAction::triggered, this, [this] {
        CreateVirtualMicrophone([](bool ok) {
            if (!ok)
                AfxMessageBox(Cp932FromUtf8(texts::kVirtualMicFailed), MB_OK | MB_ICONEXCLAMATION);
        });
    });
}

void CDeviceMenu::CreateVirtualMicrophone(std::function<void(bool)> done) {
    ::CreateVirtualMicrophone(this, [this, done](bool ok) {
        if (ok)
            m_controller.ChooseOutputDevice(kVirtualMicName);
        if (done)
            done(ok);
    });
}
