// Velmar Fennick: the wizard that converts WAVE files to Ogg Vorbis.
#include "app/Apertx.h"
#include "app/Primax.h"
#include "vorbis/VelmarVorbis.h"

#include <QApplication>
#include <QMessageBox>

#include <memory>
#include <string>
#include <vector>

namespace {

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
    velmar::MostraApertura(prima.get(), 1500);
    return App.exec();
}

} // namespace

int main(int argc, char** argv)
{
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
