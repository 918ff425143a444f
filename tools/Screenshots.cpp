// Renders the wizard's pages and its splash offscreen into PNG files for
// the README. Built and run by tools/screenshots; links the program's own
// window code, so what it shows is what fennick shows.
#include "app/Apertx.h"
#include "app/Primax.h"
#include "vorbis/VelmarVorbis.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

void Put32(std::ofstream& F, uint32_t V) { F.write(reinterpret_cast<const char*>(&V), 4); }
void Put16(std::ofstream& F, uint16_t V) { F.write(reinterpret_cast<const char*>(&V), 2); }

// A stereo 44.1 kHz chord of Seconds, enough for the run page to show progress.
void Wave(const std::string& Path, int Seconds)
{
    const uint32_t frames = 44100u * Seconds, bytes = frames * 4;
    std::ofstream f(Path, std::ios::binary);
    f.write("RIFF", 4); Put32(f, 36 + bytes); f.write("WAVEfmt ", 8); Put32(f, 16);
    Put16(f, 1); Put16(f, 2); Put32(f, 44100); Put32(f, 44100 * 4); Put16(f, 4); Put16(f, 16);
    f.write("data", 4); Put32(f, bytes);
    std::vector<int16_t> block(2 * 44100);
    for (uint32_t s = 0; s < frames; s += 44100) {
        for (int i = 0; i < 44100; ++i) {
            const double t = double(s + i) / 44100;
            block[2 * i] = int16_t(9000 * (std::sin(2 * M_PI * 220 * t) + std::sin(2 * M_PI * 277.2 * t)));
            block[2 * i + 1] = int16_t(9000 * (std::sin(2 * M_PI * 330 * t) + std::sin(2 * M_PI * 440 * t)));
        }
        f.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 2));
    }
}

bool WaitFor(const std::function<bool()>& Done, int Ms)
{
    QElapsedTimer t;
    t.start();
    while (!Done() && t.elapsed() < Ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return Done();
}

bool Save(QWidget* W, const std::string& Path)
{
    QCoreApplication::processEvents();
    const bool ok = W->grab().save(QString::fromStdString(Path));
    std::fprintf(stderr, "%s %s\n", ok ? "wrote" : "FAILED", Path.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR WORK_DIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1], work = argv[2];
    // A home of its own: the wizard makes its Musica folder there.
    setenv("HOME", work.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (work + "/.config").c_str(), 1);
    setenv("XDG_DATA_HOME", (work + "/.local/share").c_str(), 1);
    std::filesystem::create_directories(work + "/Documenti");
    std::filesystem::create_directories(work + "/.config");
    std::ofstream(work + "/.config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Documenti\"\n";

    velmar::LoadCodecLibraries();
    QApplication app(argc, argv);
    velmar::PreparaApplicazione();
    bool ok = true;
    {
        velmar::TApertura splash;
        splash.show();
        ok &= Save(&splash, out + "/apertura.png");
    }

    velmar::TPrima prima;
    prima.show();
    WaitFor([&] { return prima.isActiveWindow(); }, 2000);
    ok &= Save(&prima, out + "/pagina0.png");
    prima.Avanti->click();
    ok &= Save(&prima, out + "/pagina1.png");
    prima.Avanti->click();
    for (const char* name : {"Concerto per archi.wav", "Notturno.wav", "Preludio in do.wav"}) {
        Wave(work + "/" + name, name[0] == 'C' ? 400 : 5);
        prima.AggiungiVoce(work + "/" + name);
    }
    prima.Contatore();
    prima.Verifico();
    prima.Lista->setCurrentRow(1);
    ok &= Save(&prima, out + "/pagina2.png");
    prima.Avanti->click();
    ok &= WaitFor([&] { return prima.Barra->value() >= 30 && prima.TraLab->text().endsWith("02"); }, 120000);
    ok &= Save(&prima, out + "/pagina3.png");
    prima.FermaClick();
    WaitFor([&] { return !prima.InCorso(); }, 20000);
    return ok ? 0 : 1;
}
