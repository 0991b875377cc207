/* Preloaded into the program for the companion-mode screenshot only: uname() reports an
 * Apple-silicon machine, so the program's own processor test offers companion mode. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <string.h>
#include <sys/utsname.h>

int uname(struct utsname *buf)
{
    int (*real)(struct utsname *) = (int (*)(struct utsname *))dlsym(RTLD_NEXT, "uname");
    int rc = real(buf);
    if (rc == 0)
        strcpy(buf->machine, "arm64");
    return rc;
}
