// What the module and a host agree on: the module's exported entry points and
// their answers, the messages of the module callback and their arguments, the
// words the module registers and reports with, the names under which the host
// keeps the module's data, and (through ostrand/types.h) the records both sides
// read and write.
//
// Every value here is fixed by the host's binary interface. The module, the
// host stand-in, the command and the tests all take them from this file, so
// both sides of every call read the same numbers.
#pragma once

#include <cstdint>

#include "ostrand/types.h"

// The module's exported entry points, looked up by name in the module file.
// They have C linkage and the platform's default C calling convention.
extern "C" {

// Returns the plug-in interface version (kApiVersion); may be called at any time.
typedef int32_t (*OrreryApiFn)(void);
// Makes the module ready; answers one of the kEntry* results.
typedef int32_t (*OrreryEntryFn)(char* moduleNameBuffer, HostLookup lookup, uint32_t hostWord, uint32_t hostFlags);
// Called once when the host lets the module go.
typedef int32_t (*OrreryExitFn)(void);

}  // extern "C"

namespace ostrand {

// The names a host looks the entry points up by; the module exports nothing else.
inline constexpr const char* kApiExportName = "orreryAPI";
inline constexpr const char* kEntryExportName = "orreryEntry";
inline constexpr const char* kExitExportName = "orreryExit";

// The interface version orreryAPI answers.
inline constexpr int32_t kApiVersion = 0x103000;

// What orreryEntry answers. The flags are checked first: their low four bits
// must be kHostFlagsRequired; then the host word must have at least one of the
// bits of kHostWordMask; only then are the host functions resolved.
inline constexpr int32_t kEntryReady = 0;
inline constexpr int32_t kEntryHostWordRefused = 1;
inline constexpr int32_t kEntryHostFunctionMissing = 4;
inline constexpr int32_t kEntryHostFlagsRefused = 5;
inline constexpr uint32_t kHostFlagsMask = 0xF;
inline constexpr uint32_t kHostFlagsRequired = 2;
inline constexpr uint32_t kHostWordMask = 0xF00000;

// Group words of the host's lookup. Each host function name belongs to one
// group (ostrand/host_functions.inc lists them all); named here are the groups
// of the functions the module calls. The module resolves every group at entry
// (kAllHostGroups); the geometry module's services are looked up with a word
// of their own, outside every group.
inline constexpr uint32_t kGroupObjects = 0x1;
inline constexpr uint32_t kGroupMeshes = 0x2;
inline constexpr uint32_t kGroupControls = 0x8;
inline constexpr uint32_t kGroupMessages = 0x200;
inline constexpr uint32_t kGroupFormats = 0x400;
inline constexpr uint32_t kGroupData = 0x800;
inline constexpr uint32_t kGroupModule = 0x8000;
inline constexpr uint32_t kGroupPaths = 0x400000;
inline constexpr uint32_t kAllHostGroups = 0x7FFFFFFF;
inline constexpr uint32_t kUsefulGroup = 0x80000000u;

// Message numbers of the module callback (moduleCallback's message). Every
// other message is answered with 0 and ignored.
inline constexpr int32_t kMessageEvaluate = 10;
inline constexpr int32_t kMessageInstanceData = 11;
inline constexpr int32_t kMessageControlPanel = 29;
inline constexpr int32_t kMessageServices = 31;

// Arguments of kMessageInstanceData: what happens to the effect item's
// instance. The handler answers 1 when the item has no instance (for
// kInstanceExists that is the whole answer) and ignores any other argument.
inline constexpr uint64_t kInstanceCreate = 0x1;
inline constexpr uint64_t kInstanceDestroy = 0x4;
inline constexpr uint64_t kInstanceLoad = 0x800;
inline constexpr uint64_t kInstanceSave = 0x1000;
inline constexpr uint64_t kInstanceExists = 0x8000000;
inline constexpr uint64_t kInstancePrepare = 0x10000000;

// The argument of kMessageEvaluate on which the module deforms the item's
// targets; any other argument is ignored.
inline constexpr uint64_t kEvaluateDisplace = 0x1000;

// The argument of kMessageControlPanel on which the module builds its panel.
inline constexpr uint64_t kControlPanelBuild = 1;

// The argument of kMessageServices (sent for no item, effect id 0) announcing
// that the geometry module's services can be looked up.
inline constexpr uint64_t kServicesGeometry = 2;

// The access words the module gives fxModuleAccess for each message it
// handles, before registering its callback.
inline constexpr uint32_t kAccessInstanceData = 0x10001805;
inline constexpr uint32_t kAccessControlPanel = 1;
inline constexpr uint32_t kAccessEvaluate = 0x1000;
inline constexpr uint32_t kAccessServices = 2;
static_assert(kAccessInstanceData ==
              (kInstanceCreate | kInstanceDestroy | kInstanceLoad | kInstanceSave | kInstancePrepare));
static_assert(kAccessControlPanel == kControlPanelBuild && kAccessEvaluate == kEvaluateDisplace &&
              kAccessServices == kServicesGeometry);

// The module kind given to fxModuleRegister.
inline constexpr int32_t kRegisterKind = 1;

// Events a host passes to a control's callback: the user changed the value
// (the module reads it from the control), or the control is about to be shown
// (the module writes the instance's value into it).
inline constexpr uint64_t kControlChanged = 0;
inline constexpr uint64_t kControlRefresh = 1;

// Kinds given to fxMessageSend: the module's errors (caption in text2) and a
// host function that could not be found at entry (no text2). fxMessageProgress
// reports always pass kProgressKind.
inline constexpr uint32_t kMessageKindError = 0x100;
inline constexpr uint32_t kMessageKindMissingFunction = 0x500;
inline constexpr uint32_t kProgressKind = 0x40;

// The kind given to fxPathGet for the base directory of relative paths.
inline constexpr int32_t kPathKindBase = 4;

// The key of the fxData* record under which the host keeps each effect item's
// EffectInstance, and the name of the scene format holding its saved values.
inline constexpr const char* kInstanceDataKey = "OstrandDataKey";
inline constexpr const char* kSceneFormatName = "OstrandData";

}  // namespace ostrand
