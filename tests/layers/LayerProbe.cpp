// Includes one header named by the build, from a target that links one layer.
// The layer tests build it to prove which headers a layer can and cannot see.
#include LAYER_PROBE_HEADER

int LayerProbe() { return 0; }
