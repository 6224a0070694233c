// QXMenuServer: the in-process COM server around CQXMenu. One static class
// factory serves the class identifier of QXMenuClass.h; the module counts its
// live objects and its locks (factory references and LockServer) and may be
// unloaded when both are zero. The worker threads of a job hold a reference
// to the module of their own, so an unload never pulls code from under them.
//
// Exports (tvcryptc.def): DllGetClassObject @1, DllCanUnloadNow @2,
// DllRegisterServer @3, DllQXCrypt @4, then the members of TQXOleThr.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace QXMenuServer {

void ObjectCreated();
void ObjectDestroyed();
void Lock();
void Unlock();
// Whether no object lives and no lock is held.
bool CanUnload();

}  // namespace QXMenuServer

extern "C" {
// Runs the job of one file, the operation following its extension (".sgn"
// verify, ".crp" decrypt, ".sme" unpack); returns when the job has ended.
// 1 when the job was started, 0 for a null path, one longer than 255
// characters, or a job that could not be started.
int WINAPI DllQXCrypt(const char* path);
HRESULT WINAPI DllRegisterServer();
}
