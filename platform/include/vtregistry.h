/*
 * vtregistry.h - the registry: a file-backed store with the usual model
 * (root, key path with backslashes, named typed values; REG_SZ and REG_DWORD).
 *
 * One text file per root under $VTBOX_REGISTRY_DIR, else
 * $XDG_CONFIG_HOME/vtbox/registry, else ~/.config/vtbox/registry. Every change
 * rewrites the file atomically under a file lock, so two processes writing at
 * once lose nothing. Key and value names ignore case.
 *
 * Every call returns 0 or a result code (2: key or value missing; 234: buffer
 * too small; 87: bad argument). An HKEY from RegOpenKeyExA/RegCreateKeyExA is
 * released with RegCloseKey.
 */
#ifndef VTREGISTRY_H
#define VTREGISTRY_H

#include <stdint.h>

#include "vtplatform.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct vtRegKey *HKEY;
typedef int32_t LONG;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)

#define REG_SZ 1u
#define REG_DWORD 4u

#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

/* Opens an existing key below key (a root or an open key). */
VTPLATFORM_API LONG RegOpenKeyExA(HKEY key, const char *sub_key, DWORD options, DWORD access, HKEY *result);
/* Opens a key, creating it and every missing parent. The class, options,
 * access and security arguments are accepted and ignored. */
VTPLATFORM_API LONG RegCreateKeyExA(HKEY key, const char *sub_key, DWORD reserved, char *key_class, DWORD options,
                                    DWORD access, void *security, HKEY *result, DWORD *disposition);
/* Reads a value. data may be NULL to learn the size; REG_SZ data includes
 * its terminating NUL. */
VTPLATFORM_API LONG RegQueryValueExA(HKEY key, const char *name, DWORD *reserved, DWORD *type, uint8_t *data,
                                     DWORD *size);
/* Writes a value (REG_SZ: text up to its first NUL; REG_DWORD: 4 bytes). */
VTPLATFORM_API LONG RegSetValueExA(HKEY key, const char *name, DWORD reserved, DWORD type, const uint8_t *data,
                                   DWORD size);
VTPLATFORM_API LONG RegDeleteValueA(HKEY key, const char *name);
/* Deletes the key below key (or key itself when sub_key is NULL or empty)
 * with everything under it. */
VTPLATFORM_API LONG RegDeleteTreeA(HKEY key, const char *sub_key);
/* The name of the index-th direct subkey (in name order). 259 past the end. */
VTPLATFORM_API LONG RegEnumKeyA(HKEY key, DWORD index, char *name, DWORD name_size);
VTPLATFORM_API LONG RegCloseKey(HKEY key);

#ifdef __cplusplus
}
#endif

#endif /* VTREGISTRY_H */
