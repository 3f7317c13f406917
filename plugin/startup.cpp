#include "startup.h"

#include "patches.h"
#include "plugin_platform.h"
#include "plugin_state.h"

PluginState plugin_state;

namespace {
int32_t binding_count = 0;

// Binds the patching library at most once per process; none when the
// binding already ran or the library cannot be had.
SplicerLibrary* bind_library() {
  if (binding_count != 0) return nullptr;
  ++binding_count;
  return platform_bind_splicer();
}
}  // namespace

uint32_t* get_or_create_variable(const char* name) {
  SplicerLibrary* root = plugin_state.root;
  SplicerVariable* variable = root->ops->FindVariable(root, name);
  if (variable == nullptr) variable = root->ops->CreateVariable(root, name, 0);
  if (variable == nullptr) return nullptr;
  return variable->ops->ValueAddress(variable);
}

uint32_t* pack_dir_count_address() { return get_or_create_variable("QV.PackDirs.Count"); }

void plugin_start() {
  plugin_state.root = bind_library();
  SplicerLibrary* root = plugin_state.root;
  if (root == nullptr) return;
  // Another copy of the plug-in already registered in this process.
  if (root->ops->GetInstance(root, kOwnerName) != nullptr) return;
  plugin_state.instance = root->ops->CreateInstance(root, kOwnerName);
  if (plugin_state.instance == nullptr) return;
  install_patches();
  // From here on the library holds the owner name and the hook routines of
  // this DLL: a FreeLibrary by whatever loaded it must not unmap them.
  platform_pin_module();
}
