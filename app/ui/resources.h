#pragma once

// The pictures and the style sheet are compiled into the client library; a static library's
// resources must be registered explicitly by each program that links it.
void InitTarvikResources();

class QPixmap;
class QString;

// One of the client's own pictures (":/img/img/…"). Where the display scales beyond 100 % the
// double-size drawing beside it (name@2x.png, made by tools/assetgen) is taken, so the picture stays
// sharp; QPixmap(path) alone would read the small one and stretch it.
QPixmap TarvikPixmap(const QString& path);
