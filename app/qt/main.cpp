#include "app/qt/Ckestrel2App.h"

int main(int argc, char** argv) {
    kestrel::Ckestrel2App app(argc, argv);
    return app.Run();
}
