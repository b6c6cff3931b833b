#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

#include <optional>

namespace verticora {

// The desktop's reduce-motion preference, read from the XDG settings portal and
// followed as it changes: on when the portal's `org.freedesktop.appearance`
// `reduced-motion` asks for reduced motion, or when GNOME's `enable-animations` is off.
// Off while the portal has not answered, and for good when there is none.
class ReduceMotionSetting : public QObject {
    Q_OBJECT

public:
    // On the session bus, or on the named connection (tests run a bus of their own).
    explicit ReduceMotionSetting(const QString& busConnection = {}, QObject* parent = nullptr);

    [[nodiscard]] bool reduceMotion() const { return m_reduceMotion; }

Q_SIGNALS:
    void changed(bool reduceMotion);

private:
    void read(const QString& group, const QString& key);
    void apply(const QString& group, const QString& key, const QVariant& value);
    void update();

    QString m_busConnection;
    std::optional<bool> m_animationsEnabled; // GNOME's enable-animations
    std::optional<bool> m_reducedMotion;     // the portal's own appearance key
    bool m_reduceMotion = false;
};

} // namespace verticora
