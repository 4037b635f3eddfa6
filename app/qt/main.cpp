#include "app/qt/Ckestrel2App.h"

int main(int argc, char** argv) {
    if (const auto status = kestrel::AnswerWithoutWindow(argc, argv)) {
        return *status;
    }
    kestrel::Ckestrel2App app(argc, argv);
    return app.Run();
}
