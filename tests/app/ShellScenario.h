#pragma once

#include "../model/ModelScenario.h"

#include "app/VerticoraAppDelegate.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>

#include <functional>

#include <memory>

namespace verticora::testing {

// Runs the event loop until `done` holds or `milliseconds` have passed.
inline bool eventually(const std::function<bool()>& done, int milliseconds = 2000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QTest::qWait(5);
    return done();
}

// Every text `page` shows now, from its visible labels and buttons.
inline QStringList shownTexts(const QWidget& page)
{
    QStringList texts;
    for (const QLabel* label : page.findChildren<QLabel*>())
        if (label->isVisibleTo(&page) && !label->text().isEmpty())
            texts << label->text();
    for (const QAbstractButton* button : page.findChildren<QAbstractButton*>())
        if (button->isVisibleTo(&page) && !button->text().isEmpty())
            texts << button->text();
    return texts;
}

// The application's delegate on a scripted camera, without a tray icon.
class ShellScenario : public ModelScenario {
protected:
    void TearDown() override
    {
        delegate.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ModelScenario::TearDown();
    }

    // Hands the model (a new one unless the test made it) to a new delegate.
    void makeDelegate()
    {
        if (!model)
            makeModel();
        modelView = model.get();
        AppDelegateOptions options;
        options.installsStatusItem = false;
        options.build = playedBuild;
        options.processID = playedProcess;
        delegate = std::make_unique<VerticoraAppDelegate>(std::move(model), options);
    }

    CameraModel* modelView = nullptr;
    std::unique_ptr<VerticoraAppDelegate> delegate;
};

} // namespace verticora::testing
