#include <QApplication>

#include "app/resources.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    InitTarvikResources();
    return 0;
}
