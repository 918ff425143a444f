// Velmar Fennick: the wizard that converts WAVE files to Ogg Vorbis.
#include "app/Apertx.h"
#include "app/Primax.h"
#include "app/Segnali.h"
#include "platform/Version.h"
#include "vorbis/VelmarVorbis.h"

#include <QApplication>
#include <QMessageBox>

#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const Uso = "Uso: fennick [FILE...]\n"
                        "Converte file Audio Wave (.wav), AIFF (.aif, .aiff, .aifc) e FLAC (.flac) in\n"
                        "file Ogg Vorbis con una procedura guidata.\n"
                        "I FILE che esistono si aprono nell'elenco del passo 2 e il programma si chiude\n"
                        "alla fine della codifica.\n"
                        "\n"
                        "  -h, --help    mostra questo aiuto\n"
                        "  --version     mostra la versione\n";

// --version and --help, answered without a window; only as the sole
// parameter, so that any other command line still names files.
bool SoloTesto(int argc, char** argv)
{
    if (argc != 2)
        return false;
    if (std::strcmp(argv[1], "--version") == 0)
        std::cout << "fennick " << velmar::Versione << "\n";
    else if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)
        std::cout << Uso;
    else
        return false;
    return true;
}

int Avvio(QApplication& App, int argc, char** argv)
{
    // The raw bytes of each parameter: a file name needs no decoding.
    const std::vector<std::string> parametri(argv + 1, argv + argc);
    std::unique_ptr<velmar::TPrima> prima;
    try {
        prima = std::make_unique<velmar::TPrima>(parametri);
    } catch (const std::exception& E) {
        // A codec library that could not be loaded.
        QMessageBox::critical(nullptr, QStringLiteral("Errore - Velmar Fennick"), QString::fromUtf8(E.what()));
        return 1;
    }
    velmar::TSegnali segnali;
    QObject::connect(&segnali, &velmar::TSegnali::Arrivato, prima.get(),
                     [&prima] { prima->ChiudiSenzaChiedere(); });
    velmar::MostraApertura(prima.get(), 1500);
    const int rc = App.exec();
    prima.reset(); // the run's clean-up, before the program ends
    if (const int signal = segnali.Ricevuto())
        velmar::TSegnali::TerminaCon(signal);
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    if (SoloTesto(argc, argv))
        return 0;
    velmar::LoadCodecLibraries();
    int rc;
    {
        QApplication app(argc, argv);
        velmar::PreparaApplicazione();
        rc = Avvio(app, argc, argv);
    }
    velmar::ReleaseCodecLibraries();
    return rc;
}
