#include "NoResourceDocument.h"

QVariant NoResourceDocument::loadResource(int, const QUrl&)
{
    return QVariant();
}
