// The disk, lending and reference-book commands of the main window.
#include "Unit1.h"

void TForm1::Button1Click() {}
void TForm1::Button2Click() {}
void TForm1::Button3Click() {}
void TForm1::Button4Click() {}
void TForm1::Button5Click() {}
void TForm1::ButtonAddKategoryClick() {}
void TForm1::ButtonRenameKategoryClick() {}
void TForm1::ButtonDeleteKategoryClick() {}
void TForm1::ButtonAddTypeClick() {}
void TForm1::ButtonRenameTypeClick() {}
void TForm1::ButtonDeleteTypeClick() {}
void TForm1::ButtonAddDolgnikClick() {}
void TForm1::ButtonRenameDolgnikClick() {}
void TForm1::ButtonDeleteDolgnikClick() {}
