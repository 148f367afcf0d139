// cfgbridge is loaded by the module at start-up and never called: it exists
// so that the module's own dependencies can be placed beside it. It exports
// nothing on purpose.
namespace {
[[maybe_unused]] const char kCfgBridgeTag[] = "veltoeap cfgbridge";
}
