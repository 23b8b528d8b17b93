#pragma once

#include <memory>

class TForm1;
class TForm2;
class TForm3;
class TAboutBox;

// The program's four windows, created once at start and released together at the end.
struct ProgramWindows {
    ProgramWindows();
    ~ProgramWindows();
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TAboutBox> aboutBox;
};

// Creates Form1, Form2, Form3 and AboutBox in that order. When a table cannot be
// opened the engine's message goes to the error box and to the error output, and
// nothing is returned.
std::unique_ptr<ProgramWindows> createWindows();

// Qt's own texts (file dialog, context menus, standard buttons) in Russian, from the
// system's Qt translation; the program's own texts are its own. False when the
// translation is not installed: those texts then stay in English.
bool loadQtTranslation();

// The application's look: resources, Qt's Russian texts, the layouts' font and the
// program's icon.
void setUpApplication();

// The program's start on an existing application object, up to its message loop:
// the look, the windows and the main window shown. Nothing when the start failed.
std::unique_ptr<ProgramWindows> startProgram();

// The whole program: the start and the message loop. Returns the exit code: 1 when
// the start failed.
int runProgram();
