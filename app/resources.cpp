#include "app/resources.h"

#include <QtGlobal>

static void initResourcesOutsideNamespace()
{
    Q_INIT_RESOURCE(tarvik);
}

void InitTarvikResources()
{
    initResourcesOutsideNamespace();
}
