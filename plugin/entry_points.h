// The functions behind the module's 14 exports, declared with the prototypes
// of hostapi/plugin_api.h. The host finds them by their decorated export
// names (hostapi/plugin_exports.def maps `_PLG_ExecuteCommand@4` onto
// PLG_ExecuteCommand and so on); several exports share one function where
// they give the same fixed answer.
#pragma once

#include "hostapi/plugin_api.h"

extern "C" {

PluginEnumerateCommands PLG_EnumerateCommands;
PluginExecutable PLG_Executable;
PluginGetCommandIcon PLG_GetCommandIcon;
PluginExecuteCommand PLG_ExecuteCommand;
PluginSetProfile PLG_SetProfile;
PluginGetNewClone PLG_GetNewClone;

// Exported as _PLG_CanSetProfile@4, _PLG_Initialize@4, _PLG_Finalize@4,
// _PLG_CanFinalize@4 and _PLG_RequireFiles@4.
PluginCanSetProfile PLG_AnswerYes;
// Exported as _PLG_IsParallel@4, _PLG_IsCloningCommand@4 and _PLG_ReleaseClone@4.
PluginIsParallel PLG_AnswerNo;

}  // extern "C"
