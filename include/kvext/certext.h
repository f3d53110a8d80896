/* Caller structures of the certificate-extension codecs. */
#ifndef KVEXT_CERTEXT_H
#define KVEXT_CERTEXT_H

#include <wincrypt.h>

#endif
