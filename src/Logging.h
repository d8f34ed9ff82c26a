#pragma once
class Logging {};
