// Settings, the event log, assertions and the checked utilities shared by
// every part of the component.
#pragma once

#include <cstddef>
#include <string>

#include "platform/OleAuto.h"

// ---- settings: HKLM\SOFTWARE\Venhale\Formix\4.0, read at every use -------------

inline constexpr const char* kSettingsKey = "SOFTWARE\\Venhale\\Formix\\4.0";

// Reads up to four bytes of a value over *inOutValue, which holds the
// caller's default; the registry type is not checked. False (and the
// default untouched) when the key or value is missing or longer than 4 bytes.
bool ReadSetting(const char* inName, DWORD* inOutValue);
// Reads a text value; false when the key or value is missing or not text.
bool ReadTextSetting(const char* inName, std::string* outValue);
bool LogErrorsEnabled();
DWORD AutoRecoverSetting();
bool ImpersonationEnabled();
// The bytes asked for per read of the request body: the registry value
// when one is present, else the last value read by this process (2048 at
// first).
DWORD ReadChunkSize();
// Writes the module's full path as ModulePath; a Windows error code.
DWORD WriteModulePath();
// Reads ModulePath of a machine ("" = local) into a 260-byte buffer.
DWORD ReadModulePath(const char* inServer, char* outPath);

// ---- event log ------------------------------------------------------------------

// Writes one entry for source "Formix" (category 1, event 0x1000); 0 or a
// Windows error code, which callers ignore.
DWORD LogEvent(const char* inText, WORD inType);
void EnsureEventSource(const char* inServer, const char* inSource);
// Steps 3 and 4 of EnsureEventSource: (re)write the source's key values.
void WriteEventSource(const char* inServer, const char* inSource);

// Logs "Assertion Failed in <file> line <n> (<expression>)" and carries on.
void ReportAssertion(const char* inFile, int inLine, const char* inExpression);
#define FMX_ASSERT(condition, file) ((condition) ? true : (ReportAssertion(file, __LINE__, #condition), false))

// Logs a fault description and, by AutoRecover, returns S_OK or ends the process.
HRESULT RecoverFromSystemError(const char* inMessage);
int OsGeneration();

// ---- checked utilities ----------------------------------------------------------------

enum class CopyMode { Replace, Append };

size_t BoundedCopy(char* outDest, const char* inSource, size_t inArraySize);
size_t BoundedCopy(char16_t* outDest, const char16_t* inSource, size_t inArraySize,
                   CopyMode inMode = CopyMode::Replace);
// The first occurrence of inNeedle lying wholly inside [inStart, inLimit).
const char* BoundedFind(const char* inStart, const char* inLimit, const char* inNeedle);
// Fills inVar, though its name says "in": the assertion logged for a missing
// VARIANT names the expression "inVar", and event-log readers match that text.
HRESULT BytesToVariant(VARIANT* inVar, const void* inPtr, size_t inLen);
HRESULT AccessVariantBytes(VARIANT* inVar, const BYTE** outPtr, LONG* outLen);
void ReleaseVariantBytes(VARIANT* inVar);
// Never null: no input or a failed conversion gives an empty BSTR.
BSTR AnsiToBstr(const char* inBytes, int inLength);
// Text in the ANSI code page from UTF-16 (for texts that enter the component).
std::string BstrToAnsi(BSTR inText);
