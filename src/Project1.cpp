// SPDX-License-Identifier: MIT
// Tandrel: compare two audio files by ear.
#include "Unit1.h"
#include "app/TApplication.h"
#include "media/GstEngine.h"
#include "shell/ShellServices.h"

int main(int argc, char** argv)
{
    app::TApplication application(argc, argv);
    shell::DesktopShell shell;
    TForm1 Form1([] { return std::make_unique<media::GstEngine>(); }, shell);
    Form1.show();
    return application.exec();
}
