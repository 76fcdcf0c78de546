// SPDX-License-Identifier: MIT
// Tandrel: compare two audio files by ear.
#include "Unit1.h"
#include "app/TApplication.h"
#include "media/GstEngine.h"

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    TForm1 Form1([] { return std::make_unique<media::GstEngine>(); });
    Form1.show();
    return application.exec();
}
