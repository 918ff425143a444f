// What the wizard's tests share: a home of their own, the window made with
// a scripted message box and open dialog, and waiting on the event loop.
#pragma once

#include "TestSupport.h"
#include "app/MessageDialog.h"
#include "app/Primax.h"
#include "support/QtTestApp.h"

#include <gtest/gtest.h>

#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// One shown message box, as the window set it up.
struct ShownMessage {
    QString Caption;
    QString Text;
    int Icon = 0;
    std::vector<QString> Buttons;
};

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes $XDG_CONFIG_HOME/user-dirs.dirs with one DOCUMENTS line.
    void SetDocuments(const std::string& Line);
    // Makes the window with these command-line parameters.
    velmar::TPrima& MakeForm(const std::vector<std::string>& Params = {});
    // Shows the window and lets it be activated.
    void ShowForm();

    std::string Home() const { return FHome->Path(); }
    std::string Musica() const { return FHome->Path() + "/Documenti/Musica"; }
    // A stereo 44.1 kHz sine WAVE of Seconds in folder Dir.
    std::string MakeWave(const std::string& Name, double Seconds);

    // Runs the event loop until Done is true or Ms have passed.
    static bool WaitFor(const std::function<bool()>& Done, int Ms = 20000);
    static void Pump(int Ms);

    std::unique_ptr<TempDir> FHome;
    std::unique_ptr<velmar::TPrima> FForm;
    std::vector<ShownMessage> Messages;
    // The button the next boxes answer with (1 = first).
    int Answer = 1;
    // What the open dialog returns.
    bool DialogConfirms = true;
    velmar::TStringList DialogFiles;
};

} // namespace testing_support
