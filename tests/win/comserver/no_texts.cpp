// A module with no string resources: the error texts fall back on their English words.
extern "C" __declspec(dllexport) int no_texts_marker() { return 0; }
