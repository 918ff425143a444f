// The broken and hostile files through the wizard's run: one error box per
// refused file naming it and the reason, no output left for it, the rest of
// the list encoded, and what an encoded file lost told in one box at the end.
#include "AppFixture.h"
#include "BadInputs.h"

#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>

#include <sys/stat.h>

using namespace velmar;
using namespace testing_support;

namespace {
class WizardBadInput : public AppTest {};
} // namespace

TEST_F(WizardBadInput, EveryBrokenFileIsReportedByNameAndTheListGoesOn)
{
    const auto battery = BadInputBattery();
    std::vector<std::string> list{MakeWave("Buono.wav", 0.3)};
    for (size_t i = 0; i < battery.size(); ++i) {
        list.push_back(Home() + "/bad" + std::to_string(i) + ".wav");
        WriteBytes(list.back(), battery[i].bytes);
    }
    ::mkdir((Home() + "/cartella.wav").c_str(), 0755);
    list.push_back(Home() + "/cartella.wav");

    TPrima& f = MakeForm();
    ShowForm();
    f.Avanti->click();
    f.Avanti->click();
    for (const std::string& p : list)
        f.AggiungiVoce(p);
    f.Verifico();
    f.Avanti->click();
    ASSERT_TRUE(WaitFor([&] { return !f.InCorso(); }, 60000));

    EXPECT_TRUE(DecodeOgg(Musica() + "/Buono.ogg").ok);
    auto messageFor = [&](const std::string& path) -> const ShownMessage* {
        for (const ShownMessage& m : Messages)
            if (m.Caption == "Errore - Velmar Fennick" && m.Text.contains(QString::fromStdString(path) + "\r"))
                return &m;
        return nullptr;
    };
    QStringList warningBoxes;
    for (const ShownMessage& m : Messages)
        if (m.Caption == "Attenzione - Velmar Fennick")
            warningBoxes.append(m.Text);
    size_t warned = 0;
    size_t refused = 0;
    for (size_t i = 0; i < battery.size(); ++i) {
        const BadInput& k = battery[i];
        SCOPED_TRACE(k.name);
        const std::string out = Musica() + "/bad" + std::to_string(i) + ".ogg";
        const ShownMessage* m = messageFor(list[i + 1]);
        if (!k.error) {
            EXPECT_EQ(m, nullptr);
            EXPECT_TRUE(DecodeOgg(out).ok);
            if (k.warning) {
                ++warned;
                ASSERT_EQ(warningBoxes.size(), 1);
                const QString line = "\"" + QString::fromStdString(list[i + 1]) + "\" " + k.warning;
                EXPECT_TRUE(warningBoxes[0].contains(line)) << warningBoxes[0].toStdString();
            }
            continue;
        }
        ++refused;
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->Caption, "Errore - Velmar Fennick");
        EXPECT_TRUE(m->Text.contains(k.error)) << m->Text.toStdString();
        EXPECT_FALSE(FileExists(out));
    }
    // A folder is no file: dropped without a word, like a missing one.
    EXPECT_EQ(messageFor(Home() + "/cartella.wav"), nullptr);
    EXPECT_FALSE(FileExists(Musica() + "/cartella.ogg"));
    EXPECT_EQ(Messages.size(), refused + (warned > 0 ? 1 : 0));
    EXPECT_GT(warned, 0u);
    EXPECT_EQ(f.Pagina->currentIndex(), 0);
    EXPECT_EQ(f.Lista->count(), 0);
}
