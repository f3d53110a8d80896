/* Caller structures of the ESS signing-certificate codecs. */
#ifndef KVEXT_ESS_H
#define KVEXT_ESS_H

#include <wincrypt.h>

#endif
