#pragma once

// 1 on 64-bit Windows (native AMD64, or a 32-bit process under WOW64), else 0.
int Is64BitWindows();
