// The one translation unit that holds stb_image_write's code; every other user of the library
// only includes <stb/stb_image_write.h>. Defining the implementation a second time anywhere in
// the companion fails the link with duplicate symbols.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
