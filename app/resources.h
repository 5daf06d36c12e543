#pragma once

// The pictures and the style sheet are compiled into the client library; a static library's
// resources must be registered explicitly by each program that links it.
void InitTarvikResources();
