// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/kglobalaccel_shortcuts.h"

#include "desktop/qt_key_map.h"
#include "desktop/texts.h"
#include "input/hotkey.h"

#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <memory>

namespace {

const QString kService = QStringLiteral("org.kde.kglobalaccel");
const QString kPath = QStringLiteral("/kglobalaccel");
const QString kInterface = QStringLiteral("org.kde.KGlobalAccel");
const QString kComponentInterface = QStringLiteral("org.kde.kglobalaccel.Component");
const QString kComponent = QStringLiteral("otomaru");
const QString kComponentPath = QStringLiteral("/component/otomaru");
const QString kDisplayName = QStringLiteral("Otomaru");
// The key given is the key in force, now, whatever the desktop remembers.
constexpr uint kSetPresent = 2, kNoAutoloading = 4;

QDBusMessage Call(const QString& path, const QString& interface, const char* method) {
    return QDBusMessage::createMethodCall(kService, path, interface, QLatin1String(method));
}

} // namespace

CKGlobalAccelShortcuts::CKGlobalAccelShortcuts(CKeyFilter& keys, CKeyFilter::LayoutFn layout,
                                               const QDBusConnection& bus, QObject* parent)
    : CHotkeyWay(parent), m_bus(bus), m_keys(keys), m_layout(std::move(layout)) {
    qDBusRegisterMetaType<QList<int>>();
    m_bus.connect(kService, kComponentPath, kComponentInterface,
                  QStringLiteral("globalShortcutPressed"), this, SLOT(OnPressed(QDBusMessage)));
    m_bus.connect(kService, kComponentPath, kComponentInterface,
                  QStringLiteral("globalShortcutReleased"), this, SLOT(OnReleased(QDBusMessage)));
}

CKGlobalAccelShortcuts::~CKGlobalAccelShortcuts() {
    for (const auto& [id, hotkey] : m_held)
        Unregister(id);
}

int CKGlobalAccelShortcuts::KeyCodeOf(const GlobalHotkey& hotkey, HKL layout) {
    const std::uint32_t keysym = KeysymOfVirtualKey(hotkey.nKey, layout);
    const int key = QtKeyOfKeysym(keysym);
    if (key == 0)
        return 0;
    int modifiers = keysym >= 0xFF80 && keysym <= 0xFFBD ? int(Qt::KeypadModifier) : 0;
    if (hotkey.nModifiers & MOD_CODE_SHIFT)
        modifiers |= Qt::ShiftModifier;
    if (hotkey.nModifiers & MOD_CODE_CTRL)
        modifiers |= Qt::ControlModifier;
    if (hotkey.nModifiers & MOD_CODE_ALT)
        modifiers |= Qt::AltModifier;
    return key | modifiers;
}

void CKGlobalAccelShortcuts::Probe(std::function<void(bool)> done) {
    QDBusMessage get = Call(kPath, kInterface, "getComponent");
    get << kComponent;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, done = std::move(done)]() mutable {
                watcher->deleteLater();
                if (watcher->isError()) {
                    // No component yet is the usual first start.
                    done(watcher->error().name() ==
                         QLatin1String("org.kde.kglobalaccel.NoSuchComponent"));
                    return;
                }
                auto* names = new QDBusPendingCallWatcher(
                    m_bus.asyncCall(Call(kComponentPath, kComponentInterface, "shortcutNames")),
                    this);
                connect(names, &QDBusPendingCallWatcher::finished, this,
                        [this, names, done = std::move(done)] {
                            names->deleteLater();
                            const QDBusPendingReply<QStringList> reply = *names;
                            // Left by a run that ended without giving them back.
                            for (const QString& id : reply.value())
                                m_held.emplace(id, GlobalHotkey{});
                            done(!names->isError());
                        });
            });
}

void CKGlobalAccelShortcuts::Unregister(const QString& id) {
    QDBusMessage call = Call(kPath, kInterface, "unregister");
    call << kComponent << id;
    m_bus.asyncCall(call);
}

void CKGlobalAccelShortcuts::SetHotkeys(const std::vector<WayHotkey>& hotkeys) {
    std::map<QString, const WayHotkey*> wanted;
    for (const WayHotkey& hotkey : hotkeys)
        wanted.emplace(ShortcutId(hotkey.key), &hotkey);
    for (auto it = m_held.begin(); it != m_held.end();) {
        const auto want = wanted.find(it->first);
        if (want != wanted.end() && want->second->key == it->second) {
            wanted.erase(want);
            ++it;
            continue;
        }
        Unregister(it->first);
        it = m_held.erase(it);
    }

    // One report for the whole change, once every answer is in.
    struct Answers {
        int pending = 0;
        std::vector<GlobalHotkey> taken;
    };
    const auto answers = std::make_shared<Answers>();
    const HKL layout = m_layout ? m_layout() : nullptr;
    for (const auto& [id, hotkey] : wanted) {
        const int code = KeyCodeOf(hotkey->key, layout);
        if (code == 0) {
            answers->taken.push_back(hotkey->key);
            continue;
        }
        const QString name = QString::fromStdString(
            hotkey->strName.empty() ? hotkey->strText
                                    : hotkey->strName + " (" + hotkey->strText + ")");
        const QStringList action{kComponent, id, kDisplayName, name};
        QDBusMessage doRegister = Call(kPath, kInterface, "doRegister");
        doRegister << action;
        m_bus.asyncCall(doRegister);
        QDBusMessage set = Call(kPath, kInterface, "setShortcut");
        set << action << QVariant::fromValue(QList<int>{code}) << (kSetPresent | kNoAutoloading);
        m_held.emplace(id, hotkey->key);
        ++answers->pending;
        auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(set), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, watcher, answers, code, key = hotkey->key] {
                    watcher->deleteLater();
                    // Another component's key comes back as none.
                    const QDBusPendingReply<QList<int>> reply = *watcher;
                    if (reply.isError() || !reply.value().contains(code))
                        answers->taken.push_back(key);
                    if (--answers->pending == 0 && !answers->taken.empty())
                        emit Taken(answers->taken);
                });
    }
    if (answers->pending == 0 && !answers->taken.empty())
        emit Taken(answers->taken);
}

std::string CKGlobalAccelShortcuts::Description() const {
    return std::string(texts::kKGlobalAccelWay);
}

void CKGlobalAccelShortcuts::Feed(const QDBusMessage& signal, bool press) {
    const QVariantList args = signal.arguments();
    GlobalHotkey hotkey;
    if (args.size() < 2 || args[0].toString() != kComponent || !m_held.count(args[1].toString()) ||
        !HotkeyOfShortcutId(args[1].toString(), hotkey))
        return;
    m_keys.FeedGlobal(press, hotkey.nKey, ShortcutKeyCode(hotkey), hotkey.nModifiers);
}

void CKGlobalAccelShortcuts::OnPressed(const QDBusMessage& signal) {
    Feed(signal, true);
}

void CKGlobalAccelShortcuts::OnReleased(const QDBusMessage& signal) {
    Feed(signal, false);
}
