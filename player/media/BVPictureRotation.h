#pragma once

// Values of the "rotation" setting: how the picture is turned in the view and in exported frames.
struct BVPictureRotation
{
    enum Value { RotationNone = 1, RotationFlipHorizontal = 2, Rotation270 = 3, Rotation90 = 4 };
};
