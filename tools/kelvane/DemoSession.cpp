#include "DemoSession.h"

const char* const kDemoSessionName = "demo session";

const char* DemoSessionScript() {
  // The sky runs from pale blue at the top to near white at the bottom, so
  // it is sampled along its whole height; the ball is marked across its
  // shading from the highlight to the shadowed rim.
  return "# remove the sky around the sample's ball\n"
         "set strength 40\n"
         "background 4,4 316,4\n"
         "background 8,4 8,16 8,28 8,40 8,52 8,64 8,76 8,88 8,100 8,112 8,124 8,136\n"
         "background 8,148 8,160 8,172 8,184 8,196 8,208 8,220 8,232\n"
         "background 312,4 312,28 312,52 312,76 312,100 312,124 312,148 312,172\n"
         "background 312,196 312,220 312,236\n"
         "background 150,204 180,212 210,204 230,190 240,160 234,135 228,110\n"
         "object 110,85 150,125 190,170\n"
         "apply\n"
         "set feathering 2\n"
         "set smoothing 3\n"
         "apply\n"
         "ok\n";
}
